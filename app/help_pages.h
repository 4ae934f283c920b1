// The user guide and the support page: local pages installed with the
// program, opened in the desktop's browser.
#pragma once

#include <QUrl>

QUrl user_guide_url();
QUrl support_page_url();
