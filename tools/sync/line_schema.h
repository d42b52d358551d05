// The line database's tables, created and upgraded by quenby-sync itself. Each version's step
// runs once, in order, inside one transaction that also records the version reached, so an older
// database is brought up to date with its rows kept.
#pragma once

#include "tools/sync/pg_connection.h"

namespace quenby::sync {

inline constexpr int LatestSchemaVersion = 2;

// Brings the database to `target` (never down); several programs starting together upgrade it
// once between them. Returns the version found before. Throws PgError, or std::runtime_error
// when the database is of a newer version than this program knows.
int upgradeSchema(PgConnection& db, int target = LatestSchemaVersion);

}  // namespace quenby::sync
