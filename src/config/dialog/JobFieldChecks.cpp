#include "config/dialog/JobFieldChecks.h"

#include "base/StrUtils.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsPageParts.h"
#include "rules/FileFilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace tavrin {
namespace {

using TProblems = std::vector<TFieldProblem>;

class TFieldReader {
public:
    explicit TFieldReader(const QWidget* form) : form_(form) {}

    QLineEdit* Edit(const char* name) const { return form_->findChild<QLineEdit*>(name); }
    std::string Text(const char* name) const {
        QLineEdit* edit = Edit(name);
        return edit ? edit->text().toStdString() : std::string();
    }
    bool Checked(const char* name) const {
        auto* check = form_->findChild<QCheckBox*>(name);
        return check && check->isChecked();
    }
    bool Sftp() const {
        auto* choice = form_->findChild<QComboBox*>("cmbProtocol");
        return choice && choice->currentIndex() == 1;
    }

private:
    const QWidget* form_;
};

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

void CheckHost(const TFieldReader& page, TProblems& problems) {
    if (Trim(page.Text("edtHost")).empty())
        problems.push_back({page.Edit("edtHost"), "Host is empty"});
}

void CheckPort(const TFieldReader& page, TProblems& problems) {
    const std::string port = page.Text("edtPort");
    const std::optional<int32_t> number = TryStrToInt(port);
    if (!number || *number < 1 || *number > 65535)
        problems.push_back(
            {page.Edit("edtPort"), "Port " + Quoted(port) + " is not a number from 1 to 65535"});
}

// The same integer rule the settings file reads and writes by.
void CheckInteger(const TFieldReader& page, const char* name, TProblems& problems) {
    QLineEdit* edit = page.Edit(name);
    if (edit == nullptr)
        return;
    try {
        StrToInt(edit->text().toStdString());
    } catch (const std::exception& failure) {
        problems.push_back({edit, failure.what()}); // "'abc' is not a valid integer value"
    }
}

// A folder the job works in locally: one that is missing can be made now, which is what the
// user almost always wants for a new job.
void CheckLocalFolder(QWidget* owner, const TFieldReader& page, const char* name, const char* what,
                      TProblems& problems) {
    QLineEdit* edit = page.Edit(name);
    const std::string folder = page.Text(name);
    if (folder.empty()) {
        problems.push_back({edit, std::string(what) + " is not set"});
        return;
    }
    std::error_code error;
    if (std::filesystem::is_directory(folder, error))
        return;
    if (!AskWarning(owner,
                    std::string(what) + " " + Quoted(folder) + " does not exist.\r\nCreate it?")) {
        problems.push_back({edit, std::string(what) + " " + Quoted(folder) + " does not exist"});
        return;
    }
    std::filesystem::create_directories(folder, error);
    if (error)
        problems.push_back({edit, "Cannot create " + Quoted(folder) + ": " + error.message()});
}

// An empty name means "none" to the TLS and SSH layers, so only a named file must be readable.
void CheckReadable(const TFieldReader& page, const char* name, const char* what,
                   TProblems& problems) {
    const std::string path = page.Text(name);
    if (path.empty())
        return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problems.push_back({page.Edit(name), std::string("Cannot read ") + what + " " +
                                                 Quoted(path) + ": " + std::strerror(errno)});
        return;
    }
    ::close(fd);
}

// Each filter problem is shown at the field it comes from: a field read on its own gives the
// problems that are its alone; what only the fields together give (a MaxSize below MinSize) is
// the MaxSize field's.
void CheckFilter(const TFieldReader& page, TProblems& problems) {
    rules::TFilterSettings all;
    all.Include = page.Text("edtInclude");
    all.Exclude = page.Text("edtExclude");
    all.IgnoreCase = page.Checked("chkIgnoreCase");
    all.MinSize = page.Text("edtMinSize");
    all.MaxSize = page.Text("edtMaxSize");
    all.MinAge = page.Text("edtMinAge");
    struct TAlone {
        const char* field;
        std::string rules::TFilterSettings::*value;
    };
    using S = rules::TFilterSettings;
    const TAlone alone[] = {{"edtInclude", &S::Include},
                            {"edtExclude", &S::Exclude},
                            {"edtMinSize", &S::MinSize},
                            {"edtMaxSize", &S::MaxSize},
                            {"edtMinAge", &S::MinAge}};
    for (const std::string& problem : rules::FilterProblems(all)) {
        const char* field = "edtMaxSize";
        for (const TAlone& one : alone) {
            S settings;
            settings.IgnoreCase = all.IgnoreCase;
            settings.*one.value = all.*one.value;
            const std::vector<std::string> own = rules::FilterProblems(settings);
            if (std::find(own.begin(), own.end(), problem) != own.end()) {
                field = one.field;
                break;
            }
        }
        problems.push_back({page.Edit(field), problem});
    }
}

// Levels below the job's folder; 0 keeps the job in the folder itself.
void CheckMaxDepth(const TFieldReader& page, TProblems& problems) {
    QLineEdit* edit = page.Edit("edtMaxDepth");
    if (edit == nullptr)
        return;
    const std::string text = TextOf(edit);
    const std::optional<int32_t> depth = TryStrToInt(text);
    if (!depth || *depth < 0)
        problems.push_back({edit, "MaxDepth " + Quoted(text) +
                                      " is not a whole number of folder "
                                      "levels from 0 up"});
}

// Transfers of one job at once: more would look like an attack to many servers.
void CheckConnections(const TFieldReader& page, TProblems& problems) {
    QLineEdit* edit = page.Edit("edtConnections");
    if (edit == nullptr)
        return;
    const std::string text = TextOf(edit);
    const std::optional<int32_t> count = TryStrToInt(text);
    if (!count || *count < 1 || *count > 8)
        problems.push_back(
            {edit, "Connections " + Quoted(text) + " is not a whole number from 1 to 8"});
}

} // namespace

std::vector<TFieldProblem> CheckJobFields(QWidget* owner, const QWidget* form,
                                          TDirection direction) {
    const TFieldReader page(form);
    TProblems problems;
    const bool import = direction == TDirection::Import;
    CheckLocalFolder(owner, page, "edtLocalFolder", import ? "Import folder" : "Export folder",
                     problems);
    if (import && page.Checked("chkDownloadToFolder"))
        CheckLocalFolder(owner, page, "edtDownloadToFolder", "Staging folder", problems);
    if (!import && page.Checked("chkMoveToFolder"))
        CheckLocalFolder(owner, page, "edtMoveToLocalFolder", "Folder for exported files",
                         problems);
    if (!import)
        CheckInteger(page, "edtSettleTime", problems);
    CheckHost(page, problems);
    CheckPort(page, problems);
    if (import)
        CheckInteger(page, "edtCheckInterval", problems);
    if (page.Sftp()) {
        CheckReadable(page, "edtSSHKey", "SSH key", problems);
    } else if (page.Checked("chkUseSSL")) {
        CheckReadable(page, "edtSSLCertificate", "TLS certificate", problems);
        CheckReadable(page, "edtSSLKey", "TLS key", problems);
    }
    CheckFilter(page, problems);
    CheckMaxDepth(page, problems);
    CheckConnections(page, problems);
    return problems;
}

} // namespace tavrin
