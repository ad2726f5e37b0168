// A headless OpenGL context for tests.
//
// EglContext creates an OpenGL context without a display server, through EGL
// on Mesa: on the surfaceless platform when the EGL client offers it, else on
// the default display. It asks for a compatibility profile, because the
// rendering library uses legacy fixed-function OpenGL (matrix stacks,
// glOrtho, the feedback buffer), and renders into a pbuffer with colour and
// depth, so the default framebuffer, the viewport and depth reads behave as
// with a window.
//
// EglTest is the fixture every rendering test derives from: SetUp creates a
// context and makes it current on the test thread, TearDown releases and
// destroys it. A machine that cannot give such a context fails the test with
// the reason; it never skips.
#pragma once

#include <EGL/egl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace zvtest {

class EglContext {
public:
    struct Options {
        int width = 256;
        int height = 256;
        int depthBits = 24;
    };

    EglContext();
    explicit EglContext(const Options& options);
    ~EglContext();
    EglContext(const EglContext&) = delete;
    EglContext& operator=(const EglContext&) = delete;

    // Whether the context exists; error() says why not.
    bool valid() const { return context_ != EGL_NO_CONTEXT; }
    const std::string& error() const { return error_; }

    // Makes the context current on the calling thread (false on failure).
    bool makeCurrent();
    // Leaves the calling thread without a current context.
    void release();

    int width() const { return options_.width; }
    int height() const { return options_.height; }
    // GL_VERSION and GL_RENDERER, read once the context was current.
    const std::string& version() const { return version_; }
    const std::string& renderer() const { return renderer_; }

private:
    bool create();
    bool fail(const std::string& what);

    Options options_;
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLSurface surface_ = EGL_NO_SURFACE;
    EGLContext context_ = EGL_NO_CONTEXT;
    std::string error_;
    std::string version_;
    std::string renderer_;
};

class EglTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Overridden by fixtures that need another size.
    virtual EglContext::Options glOptions() const { return {}; }

    EglContext& gl() { return *gl_; }

private:
    std::unique_ptr<EglContext> gl_;
};

}  // namespace zvtest
