#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace tavorin {

// The file paths a source switch of the given type carries: only recordings (type 1) collect
// files; empty entries are skipped. The file dialogs deliver local-file URLs, which become local
// paths (absolute paths survive); any other text drops its first eight characters, the length of
// a "file:///" prefix.
std::vector<std::string> recordingFiles(int type, const QStringList& files);

// The kinect_*.h5 regular files of `folder` (a local URL or a plain path), sorted by name; and
// its path. Empty when there are none (`fault` then says why).
std::vector<std::string> recordingsInFolder(const QString& folderUrl, std::string& folder, std::string& fault);

// Why the file a recording dialog returned cannot be played, or empty: no file at all (the
// dialog returned `folderUrl`, a folder), a folder, a missing or unreadable file, or something
// other than a regular file. Both are the dialog's URLs (or plain paths).
std::string recordingChoiceFault(const QString& fileUrl, const QString& folderUrl);

// Where the recording dialogs open: the first of `candidates` (relative to the working folder)
// that is a folder, as a local-file URL; else the home folder.
QString recordingDialogFolder(const std::vector<std::string>& candidates);

} // namespace tavorin
