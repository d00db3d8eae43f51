#include "platform/testing.h"

#include <windows.h>
#include <winternl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <vector>

#include "platform/text.h"

namespace platform::testing {

std::string MakeTempDir(const std::string& tag) {
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof(temp), temp);
  if (length == 0 || length >= sizeof(temp)) return "";
  std::string base(temp, length);
  if (base.back() == '\\' || base.back() == '/') base.pop_back();
  std::string clean = tag;
  for (char& c : clean) {
    if (std::strchr("<>:\"/\\|?*", c) != nullptr) c = '_';
  }
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string path = base + "\\schedexe-" + clean + "-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
  }
  return "";
}

void RemoveTree(const std::string& native_path) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((native_path + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = native_path + "\\" + name;
      // Read-only files and folders would refuse deletion.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        const DWORD rest = entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesA(path.c_str(), rest != 0 ? rest : FILE_ATTRIBUTE_NORMAL);
      }
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(path);
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryA(path.c_str());
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(native_path.c_str());
}

namespace {

HKEY CreateKey(const std::string& subkey) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

}  // namespace

bool SetRegistryRaw(const std::string& subkey, const std::string& value_name, uint32_t type,
                    const std::string& data) {
  // The Reg*ValueEx calls may add a terminator to string types (Wine does,
  // even in the wide call), so the value goes in through the native call
  // underneath them.
  using SetValueKey = LONG(NTAPI*)(HANDLE, UNICODE_STRING*, ULONG, ULONG, const void*, ULONG);
  const auto set_value = reinterpret_cast<SetValueKey>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
  if (set_value == nullptr) return false;
  std::vector<wchar_t> wide(value_name.size() + 1);
  if (MultiByteToWideChar(CP_ACP, 0, value_name.c_str(), -1, wide.data(),
                          static_cast<int>(wide.size())) == 0) {
    return false;
  }
  UNICODE_STRING name;
  name.Buffer = wide.data();
  name.Length = static_cast<USHORT>(wcslen(wide.data()) * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  HKEY key = CreateKey(subkey);
  if (key == nullptr) return false;
  const LONG status = set_value(key, &name, 0, type, data.data(), static_cast<ULONG>(data.size()));
  RegCloseKey(key);
  return status == 0;
}

bool SetRegistryString(const std::string& subkey, const std::string& value_name,
                       const std::string& data) {
  HKEY key = CreateKey(subkey);
  if (key == nullptr) return false;
  const LONG rc = RegSetValueExA(key, value_name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool DeleteRegistryKey(const std::string& subkey) {
  const LONG rc = RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool SetEnv(const std::string& name, const std::string& value) {
  // The C runtime keeps its own copy of the environment: set both, so that
  // getenv and GetEnvironmentVariableA (and children) agree.
  const bool crt = _putenv_s(name.c_str(), value.c_str()) == 0;
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) && crt;
}

void UnsetEnv(const std::string& name) {
  _putenv_s(name.c_str(), "");
  SetEnvironmentVariableA(name.c_str(), nullptr);
}

std::string ExeSuffix() { return ".exe"; }

std::string Sep() { return "\\"; }

namespace {

// The server ends of the pipes MakeSpecialFiles made, by name, kept for the
// life of the process: a pipe exists only while its server holds it.
std::mutex pipe_mutex;
std::map<std::string, HANDLE>& PipeServers() {
  static auto* servers = new std::map<std::string, HANDLE>;
  return *servers;
}

}  // namespace

std::vector<SpecialFile> MakeSpecialFiles(const std::string& dir) {
  static std::atomic<unsigned> counter{0};
  std::vector<SpecialFile> files = {
      {"a folder", dir + "\\folder"},
      {"a device", "NUL"},
      {"a pipe", "\\\\.\\pipe\\schedexe-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(counter++)}};
  CreateDirectoryA(files[0].path.c_str(), nullptr);
  const HANDLE server =
      CreateNamedPipeA(files[2].path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
  if (server != INVALID_HANDLE_VALUE) {
    std::lock_guard<std::mutex> lock(pipe_mutex);
    PipeServers()[files[2].path] = server;
  }
  return files;
}

void ReleasePipeReaders(const std::string& path) {
  std::lock_guard<std::mutex> lock(pipe_mutex);
  const auto it = PipeServers().find(path);
  // A client waiting in a read fails once its server lets it go.
  if (it != PipeServers().end()) DisconnectNamedPipe(it->second);
}

int CurrentProcessor() { return static_cast<int>(GetCurrentProcessorNumber()); }

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool AnnounceClockSet() {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(HWND_BROADCAST, WM_TIMECHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000,
                             &result) != 0;
}

namespace {

// True when `object` (closed here) has a present, null DACL.
bool HasNullDacl(HANDLE object) {
  if (object == nullptr) return false;
  DWORD needed = 0;
  GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<char> descriptor(needed > 0 ? needed : 1);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  const bool ok = GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor.data(),
                                          static_cast<DWORD>(descriptor.size()), &needed) &&
                  GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) &&
                  present && dacl == nullptr;
  CloseHandle(object);
  return ok;
}

}  // namespace

bool NamedEventHasNullDacl(const std::string& name) {
  return HasNullDacl(OpenEventA(READ_CONTROL, FALSE, name.c_str()));
}

bool NamedMutexHasNullDacl(const std::string& name) {
  return HasNullDacl(OpenMutexA(READ_CONTROL, FALSE, name.c_str()));
}

namespace {

class Win32ChildProcess final : public ChildProcess {
 public:
  explicit Win32ChildProcess(const PROCESS_INFORMATION& info) : process_(info.hProcess) {
    CloseHandle(info.hThread);
  }
  // A child the test did not wait for must not outlive it.
  ~Win32ChildProcess() override {
    if (!waited_) {
      Kill();
      Wait();
    }
    CloseHandle(process_);
  }
  Win32ChildProcess(const Win32ChildProcess&) = delete;
  Win32ChildProcess& operator=(const Win32ChildProcess&) = delete;

  int Wait() override {
    waited_ = true;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) return -1;
    return static_cast<int>(code);
  }

  // Exit code 0xFFFFFFFF, so Wait() reports -1 as for a killed POSIX child.
  void Kill() override { TerminateProcess(process_, 0xFFFFFFFFu); }

 private:
  HANDLE process_;
  bool waited_ = false;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  const std::string& output) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string command_line = WindowsCommandLine(argv);
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (!output.empty()) {
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    file = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = file;
    startup.hStdError = file;
  }
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof(info));
  const auto create = [&] {
    return CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr,
                          file != INVALID_HANDLE_VALUE, 0, nullptr, nullptr, &startup, &info);
  };
  BOOL started = create();
  // Wine on a busy machine now and then fails to start a program that is
  // there; a test asks for the program, not for that one attempt.
  const DWORD error = started ? ERROR_SUCCESS : GetLastError();
  if (!started && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    Sleep(100);
    started = create();
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!started) return nullptr;
  return std::make_unique<Win32ChildProcess>(info);
}

}  // namespace platform::testing
