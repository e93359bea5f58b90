#pragma once
// The checks a job's page passes before the dialog writes it: a host, a port from 1 to
// 65535, local folders that exist (a missing one may be created on the spot), whole-number
// intervals, TLS or SSH key files that can be read, filter patterns, sizes and ages the job can
// use, and a subfolder depth from 0 up. Each problem names the control it is
// about, so the page can show it there.
#include "config/SettingsKeys.h"

#include <string>
#include <vector>

class QWidget;

namespace tavrin {

struct TFieldProblem {
    QWidget* Field;
    std::string Text;
};

// Checks the controls of an Import or Export page (`form`). A local folder that does not
// exist is offered for creation with a warning box owned by `owner`.
std::vector<TFieldProblem> CheckJobFields(QWidget* owner, const QWidget* form,
                                          TDirection direction);

} // namespace tavrin
