#pragma once

#include <optional>

#include <QString>

#include "demo/lims/DemoLimsCore.h"

class DemoAppLocks;

// The statements of SQL Server's application locks that the demo LIMS answers, each a
// batch of its own:
//   declare @r int; exec @r = sp_getapplock @Resource = '…', @LockMode = '…',
//       @LockOwner = 'Session', @LockTimeout = n; select @r as NAME
//   the same with sp_releaseapplock (@Resource, @LockOwner), and either procedure
//       called without taking its return value;
//   select APPLOCK_TEST('public', '…', 'mode', 'Session') as NAME
//   select s.host_name as NAME from sys.dm_tran_locks l join sys.dm_exec_sessions s
//       on s.session_id = l.request_session_id where l.resource_type = 'APPLICATION'
//       and l.request_mode = 'X' and l.resource_description like '%[[]…]%'
// Keywords and names are read case-insensitively; the semicolons are optional.
namespace DemoAppLockSql {

// The answer to one of those batches for the session; none when the text is not one of
// them (the LIMS's own recogniser then reads it). A parameter the server would refuse
// (an unknown mode, a lock owned by a transaction) answers -999, as SQL Server's return.
std::optional<DemoStatementAnswer> answer(const QString &sql, DemoAppLocks &locks, int session);

} // namespace DemoAppLockSql
