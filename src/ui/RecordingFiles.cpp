#include "ui/RecordingFiles.h"

#include "app/SetDepthImageSourceAction.h"

#include <QDir>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A local path from a dialog's URL; a plain path stays as it is.
std::string localPath(const QString& text)
{
    const QUrl url(text);
    return (url.isLocalFile() ? url.toLocalFile() : text).toStdString();
}

} // namespace

std::vector<std::string> recordingsInFolder(const QString& folderUrl, std::string& folder, std::string& fault)
{
    constexpr char kPrefix[] = "kinect_";
    constexpr char kSuffix[] = ".h5";
    folder = localPath(folderUrl);
    std::vector<std::string> paths;
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
        fault = (folder.empty() ? std::string("no folder") : folder) + " is not a folder";
        return paths;
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > sizeof kPrefix - 1 + sizeof kSuffix - 1 && name.rfind(kPrefix, 0) == 0
            && name.compare(name.size() - (sizeof kSuffix - 1), std::string::npos, kSuffix) == 0
            && entry.is_regular_file(error))
            paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    if (error)
        fault = folder + " cannot be read: " + error.message();
    else if (paths.empty())
        fault = folder + " holds no recording kinect_*.h5";
    if (!fault.empty())
        paths.clear();
    return paths;
}

std::string recordingChoiceFault(const QString& fileUrl, const QString& folderUrl)
{
    const std::string path = fileUrl.isEmpty() ? std::string() : localPath(fileUrl);
    if (path.empty()) {
        const std::string folder = localPath(folderUrl);
        return folder.empty() ? "no file was chosen" : folder + " is a folder, not a recording";
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return path + ": " + std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return path + " is a folder, not a recording";
    if (!S_ISREG(status.st_mode))
        return path + " is not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return path + " cannot be read: " + std::strerror(errno);
    ::close(fd);
    return {};
}

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

QString recordingDialogFolder(const std::vector<std::string>& candidates)
{
    for (const std::string& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_directory(candidate, error))
            return QUrl::fromLocalFile(QString::fromStdString(std::filesystem::absolute(candidate, error).string()))
                .toString();
    }
    return QUrl::fromLocalFile(QDir::homePath()).toString();
}

} // namespace tavorin
