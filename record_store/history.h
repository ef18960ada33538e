// SPDX-License-Identifier: GPL-3.0-or-later

// The recorded history of the database's contents in the versions folder:
// each content a write replaced or wrote, kept as a file named by its
// content, and for each machine a log of its writes, so that the last content
// two contents both descend from can be found.
#pragma once

#include <optional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include "record_store/file_system.h"

namespace RecordStore::Internal {

// A content's name in the history: the first 32 hexadecimal digits of its
// SHA-256 hash.
using ContentId = QByteArray;
ContentId contentIdOf(QByteArrayView bytes);

// What a write records besides the content it replaced: what else the
// content it writes descends from (the text the session last read or wrote,
// the conflict copies it merged), and the ids of contents the caller has
// hashed already, by their digests, so that the content replaced need not be
// hashed again.
struct WriteRecord
{
    QList<ContentId> parents;
    // The conflict copies merged, kept as versions too.
    QList<std::pair<ContentId, QByteArray>> copies;
    QList<std::pair<ContentDigest, ContentId>> knownIds;
    // The program folder as the session found it: a write refuses a folder
    // that its path names now and that is another one (a removed disk whose
    // mount point stayed, say).
    FileSystem::Folder programFolder;
};

// The program folder as the session found it.
struct ProgramFolder
{
    FileSystem::Folder folder;
};

class History
{
public:
    // The history in the versions folder of `programFolder`, read from every
    // machine's log; with `create`, the folder is made where it is missing.
    static FileResult<History> open(const FileSystem::Folder &programFolder,
                                    const QString &programDirectory, bool create);

    // Keeps `bytes`, whose id is `id`, as a version, unless it is kept already.
    std::optional<QString> keep(const ContentId &id, QByteArrayView bytes);
    // Appends to this machine's log that `written` descends from `parents`.
    std::optional<QString> record(const ContentId &written, const QList<ContentId> &parents);
    // The content that `a` and `b` both descend from, nearest to them first,
    // whose version is kept; nothing when none is known.
    std::optional<QByteArray> mergeBase(const ContentId &a, const ContentId &b) const;
    std::optional<ContentId> mergeBaseId(const ContentId &a, const ContentId &b) const;
    // Whether the logs know `id` to descend from `ancestor` (or to be it).
    bool descendsFrom(const ContentId &id, const ContentId &ancestor) const;
    // Whether any log knows `id`.
    bool knows(const ContentId &id) const;
    // Removes the versions no machine's newest kVersionsKept writes name,
    // except those in `keepAlso`; versions no log names are never removed.
    void prune(const QList<ContentId> &keepAlso);

    const FileSystem::Folder &programFolder() const
    {
        return m_programFolder;
    }
    static QString versionName(const ContentId &id);

private:
    QList<ContentId> ancestorsByDistance(const ContentId &from) const;

    FileSystem::Folder m_programFolder;
    FileSystem::Folder m_folder;
    QByteArray m_machine;
    // Every recorded write's parents, by the content written.
    QHash<ContentId, QList<ContentId>> m_parents;
    // Each log's writes, oldest first.
    QHash<QString, QList<ContentId>> m_logs;
    QStringList m_files;
};

// This machine's name in the history: a hash of the machine's id and the
// program folder's path, so that two machines, and two program folders on
// one machine, never write the same log.
QByteArray machineName(const QString &programDirectory);

} // namespace RecordStore::Internal
