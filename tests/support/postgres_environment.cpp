// The service tests run a second time on PostgreSQL (VEXORY_TEST_DATABASE); where
// the machine has no PostgreSQL server they are skipped, saying why.

#include "support/postgres_server.h"

#include <gtest/gtest.h>

namespace {

class PostgresEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (vexory::test::TestsOnPostgres() && vexory::test::PostgresServer::BinDir().empty())
            GTEST_SKIP() << "no PostgreSQL server on this machine (/usr/lib/postgresql/*/bin/postgres); "
                            "scripts/setup installs it";
    }
};

const ::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

} // namespace
