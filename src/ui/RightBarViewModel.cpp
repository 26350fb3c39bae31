#include "ui/RightBarViewModel.h"

RightBarViewModel::RightBarViewModel(QObject* parent) : QObject(parent) {}
