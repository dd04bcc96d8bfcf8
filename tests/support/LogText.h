#pragma once

#include <QStringList>

class UI_LogPanel;

// The messages of the panel's lines, in order, each without its time stamp; a line that does not
// have the "yyyy-MM-dd hh:mm:ss:zzz : " form shows as "<malformed: line>".
QStringList logMessages(const UI_LogPanel &panel);
