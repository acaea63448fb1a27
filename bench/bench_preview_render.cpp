// The two ways a preview can reach its tile, on the same stream in the same
// kind of window: libmpv's OpenGL render API into a framebuffer object whose
// texture is drawn (what the program does), and libmpv's software renderer
// into memory uploaded with glTexSubImage2D. Each run plays one way for a
// while, draws the texture on a quad and swaps for every new picture, and
// prints the processor time it took (bench/watch_bench.py runs both).
//
//   quillon-bench-preview-render gl|sw <address> <seconds>
#define GL_GLEXT_PROTOTYPES
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int width = 256;
constexpr int height = 128;

bool software = false;
double seconds = 10;
mpv_handle* core = nullptr;
mpv_render_context* render = nullptr;
std::atomic<bool> update{false};
GLuint texture = 0;
GLuint framebuffer = 0;
std::vector<unsigned char> pixels(size_t{width} * height * 4);
long pictures = 0;
std::chrono::steady_clock::time_point started;

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void* glProcedure(void*, const char* name) { return reinterpret_cast<void*>(glutGetProcAddress(name)); }

void onUpdate(void*) { update.store(true); }

void drawPicture() {
    if (software) {
        int size[2] = {width, height};
        size_t stride = width * 4;
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_SW_SIZE, size},
            {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>("rgb0")},
            {MPV_RENDER_PARAM_SW_STRIDE, &stride},
            {MPV_RENDER_PARAM_SW_POINTER, pixels.data()},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        mpv_render_context_render(render, params);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE,
                        pixels.data());
    } else {
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        mpv_opengl_fbo target{static_cast<int>(framebuffer), width, height, 0};
        int flip = 0;
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_OPENGL_FBO, &target},
            {MPV_RENDER_PARAM_FLIP_Y, &flip},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        mpv_render_context_render(render, params);
        glUseProgram(0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glPopAttrib();
    }
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-0.5f, -0.5f);
    glTexCoord2f(1, 0);
    glVertex2f(0.5f, -0.5f);
    glTexCoord2f(1, 1);
    glVertex2f(0.5f, 0.5f);
    glTexCoord2f(0, 1);
    glVertex2f(-0.5f, 0.5f);
    glEnd();
    glutSwapBuffers();
    ++pictures;
}

void onTimer(int) {
    if (update.exchange(false) && (mpv_render_context_update(render) & MPV_RENDER_UPDATE_FRAME))
        drawPicture();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (elapsed >= seconds) {
        std::printf("%s %.4f cores %ld pictures %.1f s\n", software ? "sw" : "gl",
                    processorSeconds() / elapsed, pictures, elapsed);
        std::fflush(stdout);
        mpv_render_context_free(render);
        mpv_terminate_destroy(core);
        std::_Exit(0);
    }
    glutTimerFunc(10, onTimer, 0);
}

}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    if (argc != 4 || (std::strcmp(argv[1], "gl") != 0 && std::strcmp(argv[1], "sw") != 0)) {
        std::fprintf(stderr, "usage: quillon-bench-preview-render gl|sw <address> <seconds>\n");
        return 2;
    }
    software = std::strcmp(argv[1], "sw") == 0;
    seconds = std::atof(argv[3]);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(1920, 1080);
    glutCreateWindow("Quillon preview render");
    glutDisplayFunc([] {});
    std::setlocale(LC_NUMERIC, "C");
    core = mpv_create();
    for (const char* option : {"config=no", "vo=libmpv", "ao=null", "hwdec=no", "mute=yes",
                               "terminal=no", "ytdl=no", "load-scripts=no"}) {
        std::string pair(option);
        const size_t equals = pair.find('=');
        mpv_set_option_string(core, pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str());
    }
    if (mpv_initialize(core) < 0) return 1;
    mpv_opengl_init_params glParams{glProcedure, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE,
         const_cast<char*>(software ? MPV_RENDER_API_TYPE_SW : MPV_RENDER_API_TYPE_OPENGL)},
        {software ? MPV_RENDER_PARAM_INVALID : MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glParams},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_create(&render, core, params) < 0) return 1;
    mpv_render_context_set_update_callback(render, onUpdate, nullptr);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    if (!software) {
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    const char* command[] = {"loadfile", argv[2], nullptr};
    mpv_command(core, command);
    started = std::chrono::steady_clock::now();
    glutTimerFunc(10, onTimer, 0);
    glutMainLoop();
    return 0;
}
