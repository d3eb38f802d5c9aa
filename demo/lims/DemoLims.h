#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The demo LIMS database file: schema, seed data, journal and fault injection.
//
// Everything the LIMS offers the station lives in one SQLite file, so that the station,
// a separate demo report server and a test can all look at the same data. The functions
// below are the administration side, for tests, benchmarks and people; the station
// reaches the LIMS only through DemoLimsConnection with its own statement texts.
namespace DemoLims {

// The seed's operators, laboratories and region suffixes.
inline const QString kMainLab = QStringLiteral("QVLAB");
inline const QString kUsLab = QStringLiteral("KPRLAB");
inline const QString kPasswordMainLab = QStringLiteral("demo");    // rights 100, lab QVLAB
inline const QString kPasswordUsLab = QStringLiteral("kpr");       // rights 100, lab KPRLAB
inline const QString kPasswordNoRights = QStringLiteral("viewer"); // rights 250: refused
inline const QString kPasswordWithQuote = QStringLiteral("o'neil"); // rights 200, lab QVLAB

// Creates and seeds the file when it does not exist yet. Returns false (with a reason)
// when the file cannot be created or opened, or is not a demo LIMS file.
bool ensureDatabase(const QString &path, QString *error = nullptr);
// The connection text under which the station opens the demo LIMS.
QString connectionText(const QString &path);

struct CreateOptions
{
    // -1: the standard seed, a few dozen clients across two laboratories; 0: operators
    // and status board only, for tests that add their own clients; N > 0: N generated
    // clients (benchmarks).
    int clients = -1;
    quint32 randomSeed = 20090302;
    QDateTime now; // invalid: the current time
};
// Creates the file afresh (an existing one is replaced).
bool createDatabase(const QString &path, const CreateOptions &options = {}, QString *error = nullptr);

// Fault injection, counted down by the statements (or logins) of any connection on the
// file, in process or over the wire:
//   Timeout    the statement meets the query time-out: nothing runs; over the wire the
//              answer is held until the client cancels it
//   Error      it fails with another error (50000); nothing runs
//   Message    it runs, and an informational message of the server follows
//   Broken     the connection goes instead of the answer; nothing runs
//   Cut        it runs, and the connection goes in the middle of its answer
//   Mute       nothing runs and nothing is ever answered, not even the client's cancel
//   Refused    the next login is refused (error 18456), whatever the password
//   Unanswered the next login is accepted on the network and never answered
// Broken goes first, then Cut, Mute, Timeout, Error and Message.
enum class Fault { Timeout, Error, Message, Broken, Cut, Mute, Refused, Unanswered };
bool injectFault(const QString &path, Fault kind, int count);
// The same with the kind by name: "timeout", "error", "message", "broken", "cut",
// "mute", "refused" or "unanswered".
bool injectFault(const QString &path, const QString &kind, int count);
bool faultFromName(const QString &name, Fault *kind);
int pendingFaults(const QString &path, Fault kind);
void clearFaults(const QString &path);

// The journal: every statement text a DemoLimsConnection received, unchanged, oldest
// first, with the outcome ("ok", "timeout", the error text...).
struct JournalEntry
{
    QDateTime at;
    QString statement;
    QString outcome;
};
QStringList journal(const QString &path);
QList<JournalEntry> journalEntries(const QString &path);
void clearJournal(const QString &path);

// The URLs the demo report server received, oldest first.
QStringList requests(const QString &path);
void clearRequests(const QString &path);
bool recordRequest(const QString &path, const QString &url);

// The status board in the settings table.
bool setBoardRow(const QString &path, const QString &parameter, const QString &value); // adds a missing row
bool removeBoardRow(const QString &path, const QString &parameter);
QString boardValue(const QString &path, const QString &parameter); // null when the row is missing
bool setCurrentApp(const QString &path, const QString &app, const QString &suffix = QStringLiteral("_CA"));
// The board's timestamp format: "M/d/yyyy HH:mm".
QString boardTimestamp(const QDateTime &value);

// Rows of the "All" work list of a laboratory.
int dueClientCount(const QString &path, const QString &lab);
// Rows of the work list for a severity threshold and custom flag, as the function gives them.
struct WorkListRow
{
    qint64 contactId = 0;
    QString contactName;
    QString endUserId;
    QDateTime recDate;
    qint64 samples = 0;
};
QList<WorkListRow> workList(const QString &path, const QString &lab, int threshold = 0, bool custom = false);

struct BatchInfo
{
    QString batchId;
    qint64 contactId = 0;
    QDateTime recDate;
    QDateTime createdAt;
    int samples = 0;
};
// Batches not deleted yet.
QList<BatchInfo> batches(const QString &path);
// Gathers a group's due samples into a new batch, as the report server does; empty when
// nothing is due. createdAt defaults to now.
QString createBatch(const QString &path, qint64 contactId, const QDateTime &recDate, QString *error = nullptr,
                    const QDateTime &createdAt = {});

// Test data.
struct ClientInfo
{
    qint64 contactId = 0;
    QString contactName;
    QString endUserId;
    QString labCode;
};
struct SampleInfo
{
    qint64 sampleId = 0; // given by addSample
    qint64 contactId = 0;
    QString sampleNo;
    QString matrix = QStringLiteral("Drinking water");
    QString analysis = QStringLiteral("Total coliforms");
    QString result = QStringLiteral("Absent");
    QDateTime recDate;
    int severity = 0;
    bool custom = false;
    QString distributionType = QStringLiteral("HARD_COPY");
    QString status = QStringLiteral("DUE"); // DUE, DISTRIBUTED, HOLD, DELETED
    QString batchId;
};
bool addClient(const QString &path, const ClientInfo &client);
// The record date is kept as SQL Server's datetime keeps it, to 1/300 s.
qint64 addSample(const QString &path, const SampleInfo &sample); // the new sample id, or 0
// Moves a client's samples (and open batches) of one record date to another, kept to
// 1/300 s: a LIMS that stamps record dates with the current time holds values like
// 10:52:29.123, which the station's date text, to the second, does not name exactly.
// False when the client has no sample of that record date.
bool setRecordDate(const QString &path, qint64 contactId, const QDateTime &recDate, const QDateTime &newRecDate);
bool addOperator(const QString &path, const QString &password, int rights, const QString &labCode,
                 const QString &empNum);
QList<SampleInfo> samples(const QString &path, qint64 contactId = -1);

} // namespace DemoLims
