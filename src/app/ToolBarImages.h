#pragma once
// The pictures of the tool bar and the window icon, drawn here rather than shipped as files.
// An image list holds the five roles below at one size (32 for the large list, 16 for the
// small one).
#include <QIcon>
#include <QPixmap>
#include <vector>

enum TToolBarImage {
    tiImportActive = 0,
    tiImportStopped = 1,
    tiExportActive = 2,
    tiExportStopped = 3,
    tiSettings = 4,
    tiImageCount = 5
};

class TImageList {
public:
    explicit TImageList(int size);
    int Size() const { return size_; }
    int Count() const { return static_cast<int>(images_.size()); }
    const QPixmap& Image(int index) const { return images_.at(static_cast<size_t>(index)); }

private:
    int size_;
    std::vector<QPixmap> images_;
};

QPixmap DrawToolBarImage(TToolBarImage role, int size);

// A tool button's icon: the large image normally, the small one under the mouse.
QIcon ToolButtonIcon(const TImageList& large, const TImageList& small, int index);

QIcon ApplicationIcon();
