#pragma once

#include <QLoggingCategory>

// The POS download's console lines ("refresh success", "download success, 3", ...); v7tool
// keeps them off its output.
Q_DECLARE_LOGGING_CATEGORY(lcPosConsole)
