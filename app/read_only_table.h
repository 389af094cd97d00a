// The windows' read-only tables: compact rows without numbers, columns as
// wide as their texts, whole rows selected, nothing edited in place.
#pragma once

#include <QStringList>

class QTableWidget;
class QWidget;

QTableWidget* MakeReadOnlyTable(const QStringList& headers, QWidget* parent, const char* objectName);
