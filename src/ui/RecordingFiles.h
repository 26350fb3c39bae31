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

} // namespace tavorin
