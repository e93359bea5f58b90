#pragma once
// "Which files" on the two job pages: the name patterns a job takes and leaves, whether
// letter case counts, the size bounds and the least age, and whether the folders below the
// job's folder are taken too and how deep.
#include "config/dialog/SettingsPageParts.h"

#include <vector>

namespace tavrin {

class TFilterGroup : public TOuterGroup {
public:
    explicit TFilterGroup(QWidget* parent);

    QLineEdit* edtInclude;
    QLineEdit* edtExclude;
    QCheckBox* chkIgnoreCase;
    QLineEdit* edtMinSize;
    QLineEdit* edtMaxSize;
    QLineEdit* edtMinAge;
    QCheckBox* chkRecursive;
    QLineEdit* edtMaxDepth;

    // Every control whose value changes which files are taken.
    std::vector<QWidget*> Fields() const;
};

} // namespace tavrin
