#pragma once

#include <QApplication>

#include "testmain.h"

// Widget tests: an offscreen QApplication.
#define TAVRIX_TEST_MAIN_GUI(TestObject) TAVRIX_TEST_MAIN_IMPL(QApplication, TestObject)
