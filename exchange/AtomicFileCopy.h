#pragma once

#include <QString>

#include <atomic>

// Copies a file under a temporary name in the target's folder and gives it
// its real name only when every byte is there: a failed or cancelled copy
// leaves nothing, and an existing target stays until it is replaced whole.
class AtomicFileCopy {
public:
    enum class Result { Copied, Failed, Cancelled };
    // reason: why a copy failed, in the operator's words ("磁盘已满", ...).
    static Result copy(const QString& source, const QString& target, const std::atomic<bool>* cancel = nullptr,
                       std::atomic<int>* permille = nullptr, QString* reason = nullptr);
};
