#include "ui/RecordingFiles.h"

#include "app/SetDepthImageSourceAction.h"

#include <QUrl>

namespace tavorin {

namespace {

std::string recordingPath(const QString& file)
{
    constexpr std::size_t kSchemePrefixLength = 8;
    const QUrl url(file);
    if (url.isLocalFile())
        return url.toLocalFile().toStdString();
    const std::string text = file.toUtf8().toStdString();
    return text.size() > kSchemePrefixLength ? text.substr(kSchemePrefixLength) : std::string();
}

} // namespace

std::vector<std::string> recordingFiles(int type, const QStringList& files)
{
    std::vector<std::string> paths;
    if (type != SetDepthImageSourceAction::kRecordings)
        return paths;
    for (const QString& file : files) {
        if (!file.isEmpty())
            paths.push_back(recordingPath(file));
    }
    return paths;
}

} // namespace tavorin
