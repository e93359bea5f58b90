#include "app/JobErrorBoxes.h"

#include <QMessageBox>
#include <QWidget>

TJobErrorBoxes::TJobErrorBoxes(QWidget* owner) : QObject(owner), owner_(owner) {}

TJobErrorBoxes::~TJobErrorBoxes() {
    for (auto& [job, box] : boxes_)
        delete box.data();
}

void TJobErrorBoxes::Show(const std::string& job, const std::string& text) {
    QPointer<QMessageBox>& box = boxes_[job];
    if (!box) {
        box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Tavrin"), QString(),
                              QMessageBox::Ok, owner_);
        box->setObjectName(QStringLiteral("jobErrorBox"));
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setProperty("job", QString::fromStdString(job));
    }
    box->setText(QString::fromStdString(text));
    if (!dialogOpen_)
        box->show();
}

void TJobErrorBoxes::Succeeded(const std::string& job) {
    const auto found = boxes_.find(job);
    if (found == boxes_.end())
        return;
    if (found->second)
        found->second->close(); // deletes itself
    boxes_.erase(found);
}

void TJobErrorBoxes::SetDialogOpen(bool open) {
    dialogOpen_ = open;
    for (auto& [job, box] : boxes_)
        if (box)
            box->setVisible(!open);
}

std::vector<TJobErrorBoxes::TBoxState> TJobErrorBoxes::Boxes() const {
    std::vector<TBoxState> states;
    for (const auto& [job, box] : boxes_)
        if (box)
            states.push_back({job, box->text().toStdString(), box->isVisible()});
    return states;
}

QMessageBox* TJobErrorBoxes::Box(const std::string& job) const {
    const auto found = boxes_.find(job);
    return found == boxes_.end() ? nullptr : found->second.data();
}
