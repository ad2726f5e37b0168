#include "support/egl_context.h"

#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstring>

// The Mesa driver keeps some allocations of the legacy feedback path for
// the life of the process without a reference that the leak checker can
// see. Leaks whose allocation stack lies in the driver are the driver's;
// leaks in our code still fail the tests. The sanitizer runtime looks this
// hook up by name; without a sanitizer nothing calls it.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:swrast_dri.so\n";
}

// The software rasteriser behind depth reads (glReadPixels, glFinish) runs
// threads of its own, synchronised with primitives the thread checker
// cannot follow inside the uninstrumented driver; what the driver calls is
// the driver's business. Our own accesses are still checked.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "called_from_lib:swrast_dri.so\n";
}

namespace zvtest {

namespace {

std::string eglErrorText(EGLint code) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "EGL error 0x%04x", static_cast<unsigned>(code));
    return buffer;
}

bool hasExtension(const char* list, const char* name) {
    if (list == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(name);
    for (const char* at = list; (at = std::strstr(at, name)) != nullptr; at += length) {
        const bool startsWord = at == list || at[-1] == ' ';
        const bool endsWord = at[length] == '\0' || at[length] == ' ';
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

// The surfaceless platform needs no display server and no device node; it
// is what the Mesa EGL client offers on a headless machine.
EGLDisplay openDisplay() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless") &&
        hasExtension(clientExtensions, "EGL_EXT_platform_base")) {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay != nullptr) {
            EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (display != EGL_NO_DISPLAY) {
                return display;
            }
        }
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

EglContext::EglContext() : EglContext(Options{}) {}

EglContext::EglContext(const Options& options) : options_(options) { create(); }

EglContext::~EglContext() {
    if (display_ == EGL_NO_DISPLAY) {
        return;
    }
    if (eglGetCurrentContext() == context_) {
        release();
    }
    if (context_ != EGL_NO_CONTEXT) {
        eglDestroyContext(display_, context_);
    }
    if (surface_ != EGL_NO_SURFACE) {
        eglDestroySurface(display_, surface_);
    }
    // The display stays initialised: EGL does not count initialisations, so
    // terminating it here would pull it from under any other live context.
}

bool EglContext::fail(const std::string& what) {
    error_ = what + " (" + eglErrorText(eglGetError()) + ")";
    if (context_ != EGL_NO_CONTEXT) {
        eglDestroyContext(display_, context_);
        context_ = EGL_NO_CONTEXT;
    }
    return false;
}

bool EglContext::create() {
    display_ = openDisplay();
    if (display_ == EGL_NO_DISPLAY) {
        return fail("no EGL display");
    }
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display_, &major, &minor)) {
        display_ = EGL_NO_DISPLAY;
        return fail("eglInitialize failed");
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        return fail("desktop OpenGL is not available through EGL");
    }
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_DEPTH_SIZE,
                                       options_.depthBits,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display_, configAttributes, &config, 1, &count) || count < 1) {
        return fail("no EGL configuration with a pbuffer, RGB8 and depth for desktop OpenGL");
    }
    const EGLint surfaceAttributes[] = {EGL_WIDTH, options_.width, EGL_HEIGHT, options_.height, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
    if (surface_ == EGL_NO_SURFACE) {
        return fail("eglCreatePbufferSurface failed");
    }
    // A compatibility profile keeps the fixed-function pipeline. Where EGL
    // cannot name a profile, an unversioned context is legacy OpenGL anyway;
    // either way the check below makes sure.
    const EGLint compatibility[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                    EGL_NONE};
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, compatibility);
    if (context_ == EGL_NO_CONTEXT) {
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
    }
    if (context_ == EGL_NO_CONTEXT) {
        return fail("eglCreateContext failed");
    }
    if (!makeCurrent()) {
        return fail("eglMakeCurrent failed");
    }
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    version_ = version != nullptr ? version : "";
    renderer_ = renderer != nullptr ? renderer : "";
    while (glGetError() != GL_NO_ERROR) {
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (glGetError() != GL_NO_ERROR) {
        release();
        return fail("the context has no fixed-function pipeline (GL_VERSION " + version_ + ")");
    }
    glViewport(0, 0, options_.width, options_.height);
    release();
    return true;
}

bool EglContext::makeCurrent() {
    return context_ != EGL_NO_CONTEXT && eglMakeCurrent(display_, surface_, surface_, context_) == EGL_TRUE;
}

void EglContext::release() {
    if (display_ != EGL_NO_DISPLAY) {
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
}

void EglTest::SetUp() {
    gl_ = std::make_unique<EglContext>(glOptions());
    ASSERT_TRUE(gl_->valid()) << "no headless OpenGL context: " << gl_->error();
    ASSERT_TRUE(gl_->makeCurrent()) << "cannot make the OpenGL context current";
}

void EglTest::TearDown() {
    if (gl_ != nullptr) {
        gl_->release();
        gl_.reset();
    }
    eglReleaseThread();
}

}  // namespace zvtest
