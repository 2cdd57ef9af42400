#pragma once
// One QApplication for all cases of the executable, created on first use.

class QApplication;

namespace dahlo::test {

QApplication& TestApp();

}  // namespace dahlo::test
