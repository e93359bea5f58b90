#pragma once
// "Which files" on the two job pages: the name patterns a job takes and leaves, whether
// letter case counts, the size bounds and the least age, and on the Import page whether the
// folders below the remote folder are fetched too and how deep.
#include "config/dialog/SettingsPageParts.h"

#include <vector>

namespace tavrin {

class TFilterGroup : public TOuterGroup {
public:
    // `subfolders`: the Import page's "Subfolders" box and its depth.
    TFilterGroup(QWidget* parent, bool subfolders);

    QLineEdit* edtInclude;
    QLineEdit* edtExclude;
    QCheckBox* chkIgnoreCase;
    QLineEdit* edtMinSize;
    QLineEdit* edtMaxSize;
    QLineEdit* edtMinAge;
    QCheckBox* chkRecursive = nullptr;
    QLineEdit* edtMaxDepth = nullptr;

    // Every control whose value changes which files are taken.
    std::vector<QWidget*> Fields() const;
};

} // namespace tavrin
