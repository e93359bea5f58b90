#include "config/dialog/FilterGroup.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace tavrin {
namespace {

QLineEdit* NewNarrowEdit(const char* name, const QString& placeholder, QWidget* parent) {
    QLineEdit* edit = NewEdit(name, parent);
    edit->setPlaceholderText(placeholder);
    edit->setFixedWidth(50);
    return edit;
}

} // namespace

TFilterGroup::TFilterGroup(QWidget* parent)
    : TOuterGroup("grpWhichFiles", QStringLiteral("Which files"), parent) {
    QWidget* in = Contents();
    edtInclude = NewEdit("edtInclude", in);
    edtInclude->setPlaceholderText(QStringLiteral("every file, or e.g. *.pdf; *.csv"));
    edtExclude = NewEdit("edtExclude", in);
    edtExclude->setPlaceholderText(QStringLiteral("none, or e.g. *.tmp; ~*"));
    chkIgnoreCase = NewCheck("chkIgnoreCase", QStringLiteral("Ignore case"), in);
    edtMinSize = NewNarrowEdit("edtMinSize", QStringLiteral("e.g. 1k"), in);
    edtMaxSize = NewNarrowEdit("edtMaxSize", QStringLiteral("e.g. 2G"), in);
    edtMinAge = NewNarrowEdit("edtMinAge", QStringLiteral("s"), in);

    // Three rows, so the page stays short enough for a laptop screen with the preview open.
    QGridLayout* grid = Grid();
    grid->addWidget(NewLabel("lbInclude", QStringLiteral("Include"), in), 0, 0);
    grid->addWidget(edtInclude, 0, 1);
    grid->addWidget(NewLabel("lbExclude", QStringLiteral("Exclude"), in), 1, 0);
    grid->addWidget(edtExclude, 1, 1);
    auto* boundsRow = new QHBoxLayout;
    boundsRow->addWidget(chkIgnoreCase);
    boundsRow->addStretch();
    boundsRow->addWidget(NewLabel("lbMinSize", QStringLiteral("Min size"), in));
    boundsRow->addWidget(edtMinSize);
    boundsRow->addWidget(NewLabel("lbMaxSize", QStringLiteral("Max size"), in));
    boundsRow->addWidget(edtMaxSize);
    boundsRow->addWidget(NewLabel("lbMinAge", QStringLiteral("Min age (s)"), in));
    boundsRow->addWidget(edtMinAge);
    grid->addLayout(boundsRow, 2, 0, 1, 3);
    chkRecursive = NewCheck("chkRecursive", QStringLiteral("Subfolders"), in);
    edtMaxDepth = NewNarrowEdit("edtMaxDepth", QString(), in);
    edtMaxDepth->setFixedWidth(40);
    auto* depthRow = new QHBoxLayout;
    depthRow->addWidget(NewLabel("lbMaxDepth", QStringLiteral("Levels"), in));
    depthRow->addWidget(edtMaxDepth);
    grid->addWidget(chkRecursive, 0, 2);
    grid->addLayout(depthRow, 1, 2);
}

std::vector<QWidget*> TFilterGroup::Fields() const {
    return {edtInclude, edtExclude, chkIgnoreCase, edtMinSize,
            edtMaxSize, edtMinAge,  chkRecursive,  edtMaxDepth};
}

} // namespace tavrin
