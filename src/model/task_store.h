#pragma once

// The task store: one binary format for the store file in the program folder,
// for exported task files and for imported ones.
//
//   offset 0  u16 mark 0x190C, u16 version 125, u8 AutoEnd, u8 ShutdownFlags,
//             u16 Reserved, string Nickname, string PasswordDigest,
//   then task entries back to back until the end of the file: seven strings
//   (TaskName .. SavedTestResult) and 19 fixed bytes (FormulaSent .. CompareLastScreen).
//
// Integers are little-endian; a string is an i32 byte count and that many GBK
// bytes (a count of 0 or less reads as an empty string). There is no task count.

#include "model/task_record.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vexory {

inline constexpr uint16_t kStoreMark = 0x190C;
inline constexpr uint16_t kStoreVersion = 125;
inline constexpr std::string_view kStoreFileName = "vexory.vxt";
inline constexpr std::string_view kStoreExtension = ".vxt";

// The store's bytes for the account's stored fields and tasks.
std::string EncodeStore(const TAccountRecord& account);

// Reads store bytes into `account`: sets the header fields and appends the tasks.
// All or nothing: on any fault (wrong mark or version, a truncated entry, a string
// count beyond the bytes left) it returns false and the account is unchanged.
bool DecodeStore(std::string_view bytes, TAccountRecord& account);

// Writes the store to `path`, replacing any file there. The new file is written
// beside the old one and renamed over it once it is complete and synced, so a
// crash or a full disk leaves either the old store or the new one, never a mix.
// On failure returns false with a reason in `error` (when given).
bool WriteStore(const TAccountRecord& account, const std::string& path, std::string* error = nullptr);
// Replaces a file whole or not at all (a temporary file, flushed, renamed over it),
// keeping its permissions (a new one is private).
bool WriteFileWhole(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// Reads the store file at `path` into `account` (see DecodeStore). False when no
// file exists, it cannot be read, or its content is not a whole store.
bool ReadStore(const std::string& path, TAccountRecord& account);

// Why the file at `path` cannot be read: the errno of opening or reading it, 0
// when it can be read (its content is then what is wrong).
int StoreReadError(const std::string& path);

// Copies the file at `path` aside as "<path>.bad" (or "<path>.bad.1", ".bad.2", ...
// when that name is taken) so that an unreadable store survives being overwritten.
// Returns the path of the copy, or "" when there was nothing to copy or the copy failed.
std::string CopyStoreAside(const std::string& path);

} // namespace vexory
