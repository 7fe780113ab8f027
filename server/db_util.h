#pragma once

// Small helpers the database code shares across its files.

#include "sql.h"

#include <cstddef>
#include <string>

namespace vexory::server::db {

// The local time as "YYYY-MM-DD HH:MM:SS", as results and accounts keep it.
std::string NowText();
// Bytes from the system's random generator.
std::string RandomBytes(size_t n);
std::string Hex(const std::string& bytes);

inline bool ChangedOne(const SqlResult& r)
{
    return r.ok() && r.changes == 1;
}

} // namespace vexory::server::db
