#pragma once

// Writes the changed pages of the open transaction to the write-ahead log
// ahead of its commit. A transaction that spans many slices of work (an
// import of a whole playlist file) would otherwise leave its commit to write
// tens of megabytes in one go; flushed after each slice, the commit has
// little left to write.
class TransactionPageFlush {
public:
    // On the database's connection (the GUI thread). False when SQLite
    // reports a failure; the transaction goes on either way.
    static bool flush();
};
