#pragma once

// Small helpers the database code shares across its files.

#include "sql.h"

#include <cstddef>
#include <string>

namespace vexory::server::db {

// The local time as "YYYY-MM-DD HH:MM:SS", as results and accounts keep it.
std::string NowText();
// A stored time (UTC, "2026-12-08T09:30:00Z") as the machine's local time.
std::string LocalTimeText(const std::string& stored);
// Bytes from the system's random generator.
std::string RandomBytes(size_t n);
std::string Hex(const std::string& bytes);

inline bool ChangedOne(const SqlResult& r)
{
    return r.ok() && r.changes == 1;
}

} // namespace vexory::server::db
