#include "app/start_notice.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace {

// freeglut's own bitmap font: nothing to install and nothing to load.
void* const noticeFont = GLUT_BITMAP_HELVETICA_18;
constexpr int margin = 24;
constexpr int lineHeight = 28;

std::vector<std::string> noticeLines;
bool noticeDismissed = false;

void onNoticeDisplay() {
    const int width = glutGet(GLUT_WINDOW_WIDTH);
    const int height = glutGet(GLUT_WINDOW_HEIGHT);
    glViewport(0, 0, width, height);
    glClearColor(0.16f, 0.10f, 0.14f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(1, 1, 1);
    int y = height - margin - 18;
    for (const std::string& line : noticeLines) {
        glRasterPos2i(margin, y);
        glutBitmapString(noticeFont, reinterpret_cast<const unsigned char*>(line.c_str()));
        y -= lineHeight;
    }
    glutSwapBuffers();
}

void onNoticeKey(unsigned char, int, int) { noticeDismissed = true; }
void onNoticeSpecialKey(int, int, int) { noticeDismissed = true; }
void onNoticeMouse(int, int state, int, int) {
    if (state == GLUT_UP) noticeDismissed = true;
}
void onNoticeClose() { noticeDismissed = true; }

}  // namespace

void showStartNotice(const std::string& title, const std::vector<std::string>& lines, int seconds) {
    noticeLines = lines;
    noticeDismissed = false;
    int textWidth = 0;
    for (const std::string& line : lines)
        textWidth = std::max(textWidth, glutBitmapLength(noticeFont, reinterpret_cast<const unsigned char*>(line.c_str())));
    const int width = textWidth + 2 * margin;
    const int height = static_cast<int>(lines.size()) * lineHeight + 2 * margin;
    int desktopWidth = width, desktopHeight = height;
    getDesktopSize(desktopWidth, desktopHeight);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    glutInitWindowSize(width, height);
    glutInitWindowPosition(std::max(0, (desktopWidth - width) / 2), std::max(0, (desktopHeight - height) / 2));
    glutCreateWindow(title.c_str());
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    glutDisplayFunc(onNoticeDisplay);
    glutKeyboardFunc(onNoticeKey);
    glutSpecialFunc(onNoticeSpecialKey);
    glutMouseFunc(onNoticeMouse);
    glutCloseFunc(onNoticeClose);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!noticeDismissed && std::chrono::steady_clock::now() < deadline) {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
