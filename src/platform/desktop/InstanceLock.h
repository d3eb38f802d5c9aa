#pragma once

#include <QString>

// One station per state folder: two would print the same batches and overwrite each
// other's records. The lock is an flock() on a file in the folder, so the kernel lets go
// of it when the process ends in any way, a SIGKILL included; no stale lock is left.
class InstanceLock
{
public:
    explicit InstanceLock(QString folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    enum Outcome {
        Taken,
        HeldByAnother, // another station runs on this folder
        NotPossible, // the file cannot be made (a full disk, a read-only folder): no lock
    };
    Outcome take();
    // Why not: the other station's process id, or the system's words.
    QString reason() const { return m_reason; }

private:
    QString m_path;
    QString m_reason;
    int m_fd = -1;
};
