#pragma once

#include <QString>

// The fixed login pairs, compared after trimming blanks at both ends and
// turning both to lower case. The program keeps only salted hashes of them.
bool login_pair_accepted(const QString& user_name, const QString& password);

// Whether a password (trimmed, any case) is the one that allows deleting a
// temporary patient's report.
bool is_privileged_password(const QString& password);
