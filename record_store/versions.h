// SPDX-License-Identifier: GPL-3.0-or-later

// What versions.cpp gives the write: the history as one write uses it, the
// record of a write in it, and the pruning after it.
#pragma once

#include <optional>

#include <QByteArrayView>
#include <QString>

#include "record_store/history.h"

namespace RecordStore::Internal {

// The history as one write uses it, opened once, when first needed: for
// reading (the copies' merge, the file's ancestor), and where the write
// records a new step, with its folder made and the copies of the logs folded
// in (as History::open with `create`); so a write that records nothing
// leaves the versions folder as it found it.
class WriteHistory
{
public:
    WriteHistory(const FileSystem::Folder &programFolder, const QString &programDirectory);

    // The history for reading, nullptr where there is none (no versions
    // folder, or no program folder).
    History *forReading();
    // The history ready for a write's record; failed, saying why, where the
    // versions folder cannot be made or read.
    FileResult<History *> forRecording();
    // The history where forRecording() gave it, for the pruning after the
    // write; else nullptr.
    History *recorded();
    // The program folder the write found, where the session had none.
    void useFolder(const FileSystem::Folder &programFolder);

private:
    FileSystem::Folder m_programFolder;
    QString m_programDirectory;
    std::optional<FileResult<History>> m_opened;
    bool m_forRecording = false;
};

// Keeps the content the file holds `now` and the content `written`, and
// records the write in `history`; fails, saying why, when it could not.
// `program` is the program folder as the write opened it. Writing what the
// file holds records only that this machine read it.
FileResult<void> recordWrite(const QString &programDirectory,
                             const FileResult<FileSystem::Folder> &program,
                             const FileResult<FileBytes> &now, QByteArrayView written,
                             const ContentId &writtenId, const WriteRecord &record,
                             WriteHistory &history);
// After a write of `written`: removes the versions no machine needs any more
// (see History::prune), keeping those that a waiting conflict copy will be
// merged against.
void pruneVersions(History &history, const ContentId &written);

} // namespace RecordStore::Internal
