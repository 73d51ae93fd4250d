// SPDX-License-Identifier: GPL-3.0-or-later
#include "win32_facade.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/serial_device.h"

namespace platform = tavex::platform;

struct FacadeKey {
  platform::RegistryKey key;
  std::optional<platform::RegRoot> root;  // set for the two predefined root handles
};

namespace {

thread_local DWORD lastError = 0;

FacadeKey machineRoot{{}, platform::RegRoot::LocalMachine};
FacadeKey userRoot{{}, platform::RegRoot::CurrentUser};

// A key handle that names an open key; null (a failed open) and the roots hold no values.
bool Usable(HKEY key) {
  return key != nullptr && !key->root;
}
constexpr LONG kInvalidHandle = static_cast<LONG>(ERROR_INVALID_HANDLE);

BOOL Result(int rc) {
  lastError = static_cast<DWORD>(rc);
  return rc == 0 ? TRUE : FALSE;
}
// A failed device call leaves its errno value as the last error.
BOOL Result(platform::Errno rc) {
  return Result(platform::Value(rc));
}

// A registry call's return: the store's result is the registry's own code; a hive file that
// failed returns its errno value, as the facade has no Windows code for it.
LONG Win32Result(const platform::RegStatus& status) {
  return std::visit([](auto code) { return static_cast<LONG>(platform::Value(code)); },
                    status.Get());
}

struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;

  void Set() {
    std::lock_guard<std::mutex> guard(mutex);
    signalled = true;
    changed.notify_all();
  }
};

// A comm handle: the device, and the thread that carries a pending WaitCommEvent.
struct Comm {
  std::unique_ptr<platform::SerialDevice> device;
  std::thread waiter;
  platform::Errno waitResult = platform::kNoError;

  void JoinWaiter() {
    if (waiter.joinable()) waiter.join();
  }
};

Comm* AsComm(HANDLE handle) {
  return static_cast<Comm*>(handle);
}
Event* AsEvent(HANDLE handle) {
  return static_cast<Event*>(handle);
}

// Events and comm handles share CloseHandle: remember which is which.
std::mutex handlesMutex;
std::vector<HANDLE> eventHandles;

bool IsEvent(HANDLE handle) {
  std::lock_guard<std::mutex> guard(handlesMutex);
  for (HANDLE h : eventHandles) {
    if (h == handle) return true;
  }
  return false;
}

}  // namespace

HKEY const HKEY_LOCAL_MACHINE = &machineRoot;
HKEY const HKEY_CURRENT_USER = &userRoot;

DWORD GetLastError() {
  return lastError;
}

void Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LONG RegCreateKeyExA(HKEY root, const char* path, DWORD, char*, DWORD, DWORD, void*, HKEY* key,
                     DWORD* disposition) {
  auto made = std::make_unique<FacadeKey>();
  platform::RegStatus rc = platform::RegistryKey::Open(*root->root, path, made->key);
  if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
  if (rc == platform::RegResult::kFileNotFound) {
    rc = platform::RegistryKey::Create(*root->root, path, made->key);
    if (disposition != nullptr) *disposition = REG_CREATED_NEW_KEY;
  }
  *key = rc.Ok() ? made.release() : nullptr;
  return Win32Result(rc);
}

LONG RegOpenKeyExA(HKEY root, const char* path, DWORD, DWORD, HKEY* key) {
  auto made = std::make_unique<FacadeKey>();
  const platform::RegStatus rc = platform::RegistryKey::Open(*root->root, path, made->key);
  *key = rc.Ok() ? made.release() : nullptr;
  return Win32Result(rc);
}

LONG RegCloseKey(HKEY key) {
  if (!Usable(key)) return kInvalidHandle;
  delete key;
  return 0;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (!Usable(key)) return kInvalidHandle;
  // The store gives text without its terminating zero one, as Windows does when a zero lies
  // just past the data; it never looks past the data itself.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  return Win32Result(
      key->key.SetValue(name == nullptr ? "" : name, static_cast<platform::RegType>(type), bytes));
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  if (!Usable(key)) return kInvalidHandle;
  platform::RegType stored{};
  std::string bytes;
  const platform::RegStatus rc = key->key.QueryValue(name == nullptr ? "" : name, stored, bytes);
  if (!rc.Ok()) return Win32Result(rc);
  if (type != nullptr) *type = static_cast<DWORD>(stored);
  DWORD capacity = *size;
  *size = static_cast<DWORD>(bytes.size());
  if (data == nullptr) return 0;
  if (bytes.size() > capacity) return static_cast<LONG>(ERROR_MORE_DATA);
  std::memcpy(data, bytes.data(), bytes.size());
  return 0;
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  if (!Usable(key)) return kInvalidHandle;
  std::string valueName;
  std::string bytes;
  platform::RegType stored{};
  platform::RegistryKey::ValueSizes needed;
  const platform::RegStatus rc =
      key->key.EnumValue(index, valueName, *nameSize, stored, bytes, *dataSize, &needed);
  if (rc == platform::RegResult::kMoreData) {
    // As Windows: the type and the data's size for a second try; the name's size stays.
    if (type != nullptr) *type = static_cast<DWORD>(stored);
    *dataSize = static_cast<DWORD>(needed.data);
  }
  if (!rc.Ok()) return Win32Result(rc);
  std::memcpy(name, valueName.c_str(), valueName.size() + 1);
  *nameSize = static_cast<DWORD>(valueName.size());
  if (type != nullptr) *type = static_cast<DWORD>(stored);
  std::memcpy(data, bytes.data(), bytes.size());
  *dataSize = static_cast<DWORD>(bytes.size());
  return 0;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, char*, DWORD*,
                   void*) {
  if (!Usable(key)) return kInvalidHandle;
  std::string found;
  const platform::RegStatus rc = key->key.EnumKey(index, found);
  if (!rc.Ok()) return Win32Result(rc);
  if (found.size() + 1 > *nameSize) return static_cast<LONG>(ERROR_MORE_DATA);
  std::memcpy(name, found.c_str(), found.size() + 1);
  *nameSize = static_cast<DWORD>(found.size());
  return 0;
}

LONG RegDeleteValueA(HKEY key, const char* name) {
  return Usable(key) ? Win32Result(key->key.DeleteValue(name)) : kInvalidHandle;
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                               char* buffer, DWORD size, const char* fileName) {
  if (section == nullptr || key == nullptr) {
    std::size_t count = 0;
    std::string names = platform::GetPrivateProfileNames(
        section == nullptr ? std::nullopt : std::optional<std::string>(section),
        defaultText == nullptr ? "" : defaultText, fileName, size, count);
    std::memcpy(buffer, names.data(), names.size());
    return static_cast<DWORD>(count);
  }
  std::string text = platform::GetPrivateProfileString(
      section, key, defaultText == nullptr ? "" : defaultText, fileName, size);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
  auto optional = [](const char* s) {
    return s == nullptr ? std::nullopt : std::optional<std::string>(s);
  };
  return Result(platform::WritePrivateProfileString(optional(section), optional(key),
                                                    optional(value), fileName));
}

HANDLE CreateFileA(const char* path, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
  platform::Errno opened = platform::kNoError;
  auto device = platform::SerialDevice::Open(path, opened);
  if (!device) {
    const int error = platform::Value(opened);
    lastError = error == ENOENT                     ? ERROR_FILE_NOT_FOUND
                : error == EBUSY || error == EACCES ? ERROR_ACCESS_DENIED
                                                    : ERROR_GEN_FAILURE;
    return INVALID_HANDLE_VALUE;
  }
  auto* comm = new Comm;
  comm->device = std::move(device);
  return comm;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return Result(ERROR_INVALID_HANDLE);
  if (IsEvent(handle)) {
    std::lock_guard<std::mutex> guard(handlesMutex);
    std::erase(eventHandles, handle);
    delete AsEvent(handle);
    return TRUE;
  }
  Comm* comm = AsComm(handle);
  comm->device->CancelWait();
  comm->JoinWaiter();
  delete comm;
  return TRUE;
}

HANDLE CreateEventA(void*, BOOL, BOOL, const char*) {
  auto* event = new Event;
  std::lock_guard<std::mutex> guard(handlesMutex);
  eventHandles.push_back(event);
  return event;
}

BOOL ResetEvent(HANDLE event) {
  std::lock_guard<std::mutex> guard(AsEvent(event)->mutex);
  AsEvent(event)->signalled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Event* event = AsEvent(handle);
  std::unique_lock<std::mutex> lock(event->mutex);
  auto done = [&] { return event->signalled; };
  if (milliseconds == INFINITE) {
    event->changed.wait(lock, done);
    return WAIT_OBJECT_0;
  }
  return event->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), done)
             ? WAIT_OBJECT_0
             : WAIT_TIMEOUT;
}

BOOL SetupComm(HANDLE comm, DWORD inQueue, DWORD outQueue) {
  return Result(AsComm(comm)->device->SetupQueues(inQueue, outQueue));
}

BOOL GetCommState(HANDLE, DCB*) {
  return TRUE;
}

BOOL SetCommState(HANDLE comm, DCB* dcb) {
  platform::LineSettings settings;
  settings.baudRate = dcb->BaudRate;
  settings.byteSize = dcb->ByteSize;
  settings.parity = dcb->Parity;
  settings.stopBits = dcb->StopBits;
  return Result(AsComm(comm)->device->SetLineSettings(settings));
}

BOOL SetCommTimeouts(HANDLE comm, COMMTIMEOUTS* t) {
  platform::Timeouts timeouts;
  timeouts.readInterval = t->ReadIntervalTimeout;
  timeouts.readTotalMultiplier = t->ReadTotalTimeoutMultiplier;
  timeouts.readTotalConstant = t->ReadTotalTimeoutConstant;
  timeouts.writeTotalMultiplier = t->WriteTotalTimeoutMultiplier;
  timeouts.writeTotalConstant = t->WriteTotalTimeoutConstant;
  return Result(AsComm(comm)->device->SetTimeouts(timeouts));
}

BOOL SetCommMask(HANDLE comm, DWORD mask) {
  return Result(AsComm(comm)->device->SetEventMask(mask));
}

// The wait runs on its own thread; the overlapped event is set when it ends.
BOOL WaitCommEvent(HANDLE handle, DWORD* events, OVERLAPPED* overlapped) {
  Comm* comm = AsComm(handle);
  comm->JoinWaiter();
  comm->device->ResetCancel();
  Event* done = AsEvent(overlapped->hEvent);
  comm->waiter = std::thread([comm, events, done] {
    std::uint32_t occurred = 0;
    comm->waitResult = comm->device->WaitEvent(occurred);
    *events = occurred;
    done->Set();
  });
  lastError = ERROR_IO_PENDING;
  return FALSE;
}

BOOL GetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
  if (wait) WaitForSingleObject(overlapped->hEvent, INFINITE);
  Comm* comm = AsComm(handle);
  comm->JoinWaiter();
  *transferred = 0;
  if (comm->waitResult == platform::Errno{ECANCELED}) return Result(ERROR_OPERATION_ABORTED);
  return Result(comm->waitResult);
}

BOOL PurgeComm(HANDLE comm, DWORD flags) {
  return Result(AsComm(comm)->device->Purge(flags));
}

// Reads and writes never stay pending here (see ReadFile), so there is nothing to cancel.
BOOL CancelIo(HANDLE) {
  return TRUE;
}

BOOL ClearCommError(HANDLE comm, DWORD* errors, COMSTAT* status) {
  platform::CommStatus got;
  const platform::Errno rc = AsComm(comm)->device->ClearError(got);
  if (errors != nullptr) *errors = got.errors;
  if (status != nullptr) {
    status->cbInQue = got.inQueue;
    status->cbOutQue = got.outQueue;
  }
  return Result(rc);
}

// Transfers complete before the call returns, which an overlapped caller accepts as well.
BOOL ReadFile(HANDLE comm, void* buffer, DWORD count, DWORD* got, OVERLAPPED*) {
  std::size_t n = 0;
  const platform::Errno rc = AsComm(comm)->device->Read(buffer, count, n);
  *got = static_cast<DWORD>(n);
  return Result(rc);
}

BOOL WriteFile(HANDLE comm, const void* data, DWORD count, DWORD* written, OVERLAPPED*) {
  std::size_t n = 0;
  const platform::Errno rc = AsComm(comm)->device->Write(data, count, n);
  *written = static_cast<DWORD>(n);
  return Result(rc);
}

DWORD ResetRegistry() {
  std::error_code ignored;
  std::filesystem::remove(platform::HivePath(platform::RegRoot::LocalMachine), ignored);
  std::filesystem::remove(platform::HivePath(platform::RegRoot::CurrentUser), ignored);
  return 0;
}

DWORD ImportRegistryFile(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(platform::RegistryDirectory(), error);
  std::filesystem::copy_file(path, platform::HivePath(platform::RegRoot::LocalMachine),
                             std::filesystem::copy_options::overwrite_existing, error);
  return static_cast<DWORD>(error.value());
}

DWORD ExportRegistryKey(const std::string& path) {
  std::error_code error;
  std::filesystem::copy_file(platform::HivePath(platform::RegRoot::LocalMachine), path,
                             std::filesystem::copy_options::overwrite_existing, error);
  return static_cast<DWORD>(error.value());
}
