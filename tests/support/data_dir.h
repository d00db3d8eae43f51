// A scratch agent for tests that read and write a real tarn.dat: a temporary
// data folder and client folder, published through a FakeEnv's registry.
#ifndef SCHEDEXE_TESTS_SUPPORT_DATA_DIR_H_
#define SCHEDEXE_TESTS_SUPPORT_DATA_DIR_H_

#include <string>
#include <vector>

#include "support/fake_env.h"

namespace testsupport {

class DataDir {
 public:
  // Points the registry of `env` at a new folder.
  DataDir(FakeEnv& env, const std::string& tag);
  ~DataDir();

  // The data-file path as the service forms it ("<dir>\tarn.dat").
  std::string data_file() const { return dir_ + "\\tarn.dat"; }
  std::string native_data_file() const;
  // The agent client directory prefix of every command line.
  std::string client_dir() const { return dir_ + "\\KVClient\\"; }
  const std::string& dir() const { return dir_; }

  void Write(const std::string& contents);
  std::string Read() const;
  // The command texts started so far, without the client directory.
  std::vector<std::string> Commands() const;
  // Of those, the wactivate starts.
  std::vector<std::string> Activations() const;

 private:
  FakeEnv& env_;
  std::string dir_;
};

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_DATA_DIR_H_
