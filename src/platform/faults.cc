#include "platform/faults.h"

#include <array>
#include <mutex>
#include <utility>

namespace platform {
namespace {

struct Board {
  std::mutex mutex;
  std::array<std::string, 4> faults;  // by kind
  std::string activity;
  std::function<void()> listener;
  void (*sink)(const std::string&) = nullptr;
};

Board& TheBoard() {
  static Board* board = new Board();  // never destroyed: threads outlive main
  return *board;
}

// With the board's lock held.
void ShowStatus(const Board& board) {
  if (!board.sink) return;
  std::string words = board.activity;
  for (const std::string& fault : board.faults) {
    if (!fault.empty()) words += " [fault: " + fault + "]";
  }
  board.sink(words);
}

}  // namespace

void SetFault(Fault kind, const std::string& words) {
  Board& board = TheBoard();
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> lock(board.mutex);
    std::string& slot = board.faults.at(static_cast<size_t>(kind));
    if (slot == words) return;
    slot = words;
    ShowStatus(board);
    listener = board.listener;
  }
  if (listener) listener();
}

std::vector<std::string> CurrentFaults() {
  Board& board = TheBoard();
  std::lock_guard<std::mutex> lock(board.mutex);
  std::vector<std::string> faults;
  for (const std::string& fault : board.faults) {
    if (!fault.empty()) faults.push_back(fault);
  }
  return faults;
}

void ShowActivity(const std::string& activity) {
  Board& board = TheBoard();
  std::lock_guard<std::mutex> lock(board.mutex);
  board.activity = activity;
  ShowStatus(board);
}

void SetStatusSink(void (*sink)(const std::string& words)) {
  Board& board = TheBoard();
  std::lock_guard<std::mutex> lock(board.mutex);
  board.sink = sink;
}

void SetFaultListener(std::function<void()> listener) {
  Board& board = TheBoard();
  std::lock_guard<std::mutex> lock(board.mutex);
  board.listener = std::move(listener);
}

}  // namespace platform
