#include "ui/ViewOptionsViewModel.h"

#include "scene/CameraIdentity.h"

#include <QColor>
#include <QVariantMap>

namespace tavorin {

namespace {

std::uint64_t bitOf(std::size_t index)
{
    return index < ViewOptionsViewModel::kMaxHideable ? std::uint64_t{1} << index : 0;
}

} // namespace

ViewOptionsViewModel::ViewOptionsViewModel(QObject* parent) : QObject(parent) {}

ViewOptionsViewModel::~ViewOptionsViewModel() = default;

bool ViewOptionsViewModel::cameraShown(std::size_t index) const
{
    return (hiddenMask.load() & bitOf(index)) == 0;
}

void ViewOptionsViewModel::setCameraNames(const std::vector<std::string>& names)
{
    {
        std::lock_guard<std::mutex> lock(namesMutex);
        if (names == cameraNames)
            return;
        const std::uint64_t hidden = hiddenMask.load();
        std::uint64_t remapped = 0;
        for (std::size_t i = 0; i < names.size(); ++i)
            for (std::size_t j = 0; j < cameraNames.size(); ++j)
                if (names[i] == cameraNames[j] && (hidden & bitOf(j)))
                    remapped |= bitOf(i);
        hiddenMask.store(remapped);
        cameraNames = names;
    }
    signalCamerasChanged();
}

void ViewOptionsViewModel::setCameraShown(int index, bool shown)
{
    if (index < 0)
        return;
    const std::size_t i = static_cast<std::size_t>(index);
    {
        std::lock_guard<std::mutex> lock(namesMutex);
        if (i >= cameraNames.size() || !bitOf(i) || cameraShown(i) == shown)
            return;
        hiddenMask.store(shown ? hiddenMask.load() & ~bitOf(i) : hiddenMask.load() | bitOf(i));
    }
    emit camerasChanged();
}

QVariantList ViewOptionsViewModel::cameras() const
{
    QVariantList rows;
    std::lock_guard<std::mutex> lock(namesMutex);
    for (std::size_t i = 0; i < cameraNames.size(); ++i) {
        const Vec4 c = cameraColor(i);
        QVariantMap row;
        row["label"] = QString::fromStdString(cameraLabel(i, cameraNames[i]));
        row["color"] = QColor::fromRgbF(static_cast<double>(c.x), static_cast<double>(c.y), static_cast<double>(c.z));
        row["shown"] = cameraShown(i);
        rows.push_back(row);
    }
    return rows;
}

// From the render thread: the signal goes out on the GUI thread, where QML reads the list.
void ViewOptionsViewModel::signalCamerasChanged()
{
    QMetaObject::invokeMethod(this, [this] { emit camerasChanged(); }, Qt::QueuedConnection);
}

} // namespace tavorin
