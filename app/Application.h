#pragma once

class QApplication;

// What the program and its window tests set up alike: the application's
// name (the task bar's title) and a style that draws the designed colours
// the same on every desktop, the toolkit's own texts in Russian. Also marks
// the calling thread as the main one.
void ConfigureApplication(QApplication& application);
