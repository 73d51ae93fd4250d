// SPDX-License-Identifier: GPL-3.0-or-later
// The part of the Win32 API the conformance runner calls, over our Linux stand-ins: registry keys
// over the hives, the private-profile functions over the profile files, a comm handle over the
// serial device. It only translates calling conventions (handles, sizes, BOOL results, overlapped
// completion); every behaviour under comparison is the stand-in's own.
#pragma once

#include <cstdint>
#include <string>

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using BYTE = unsigned char;
using HANDLE = void*;
struct FacadeKey;
using HKEY = FacadeKey*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

extern HKEY const HKEY_LOCAL_MACHINE;
extern HKEY const HKEY_CURRENT_USER;

inline constexpr DWORD EV_RXCHAR = 0x1;
inline constexpr DWORD EV_RXFLAG = 0x2;
inline constexpr DWORD EV_TXEMPTY = 0x4;
inline constexpr DWORD PURGE_TXABORT = 0x1;
inline constexpr DWORD PURGE_RXABORT = 0x2;
inline constexpr DWORD PURGE_TXCLEAR = 0x4;
inline constexpr DWORD PURGE_RXCLEAR = 0x8;

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ONESTOPBIT = 0;

struct DCB {
  DWORD DCBlength = 0;
  DWORD BaudRate = 0;
  DWORD fBinary = 0;
  BYTE ByteSize = 8;
  BYTE Parity = 0;
  BYTE StopBits = 0;
};

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout = 0;
  DWORD ReadTotalTimeoutMultiplier = 0;
  DWORD ReadTotalTimeoutConstant = 0;
  DWORD WriteTotalTimeoutMultiplier = 0;
  DWORD WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
  DWORD cbInQue = 0;
  DWORD cbOutQue = 0;
};

struct OVERLAPPED {
  HANDLE hEvent = nullptr;
};

DWORD GetLastError();
void Sleep(DWORD milliseconds);

LONG RegCreateKeyExA(HKEY root, const char* path, DWORD reserved, char* keyClass, DWORD options,
                     DWORD access, void* security, HKEY* key, DWORD* disposition);
LONG RegOpenKeyExA(HKEY root, const char* path, DWORD options, DWORD access, HKEY* key);
LONG RegCloseKey(HKEY key);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize);
LONG RegDeleteValueA(HKEY key, const char* name);
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                   char* keyClass, DWORD* classSize, void* lastWrite);

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                               char* buffer, DWORD size, const char* fileName);
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security, DWORD creation,
                   DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, const char* name);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds);
BOOL SetupComm(HANDLE comm, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE comm, DCB* dcb);
BOOL SetCommState(HANDLE comm, DCB* dcb);
BOOL SetCommTimeouts(HANDLE comm, COMMTIMEOUTS* timeouts);
BOOL SetCommMask(HANDLE comm, DWORD mask);
BOOL WaitCommEvent(HANDLE comm, DWORD* events, OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE comm, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
BOOL PurgeComm(HANDLE comm, DWORD flags);
BOOL CancelIo(HANDLE comm);
BOOL ClearCommError(HANDLE comm, DWORD* errors, COMSTAT* status);
BOOL ReadFile(HANDLE comm, void* buffer, DWORD count, DWORD* got, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE comm, const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped);

// The registry editor's part, done on the hive files: empty both hives, use a registry file as
// the machine hive as it is, copy the machine hive out.
DWORD ResetRegistry();
DWORD ImportRegistryFile(const std::string& path);
DWORD ExportRegistryKey(const std::string& path);
