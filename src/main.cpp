#include "ui/GlobalStateHandler.h"
#include "ui/GLRectangle.h"
#include "ui/GLRectangleViewModel.h"
#include "ui/RightBarViewModel.h"
#include "ui/ViewOptionsViewModel.h"

#include "HelpOption.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QSocketNotifier>
#include <QSurfaceFormat>

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage = "Usage: tavorin [--help] [Qt options such as -platform xcb]";
constexpr const char* kHelp =
    "Opens the window that brings the depth cameras into one room coordinate system. Run it from the\n"
    "repository root: it reads shaders/ and keeps each camera's matrix, depth correction and calibration\n"
    "record under config/cameras/. The source is chosen in the window: live Azure Kinect cameras, HDF5\n"
    "recordings (samples/OP1 after ./scripts/run.sh), or ROS 2 network cameras (ROS_DOMAIN_ID).\n"
    "Environment: TAVORIN_VIRTUAL_CAMERAS=N (1 to 8) presents N virtual cameras that look at a moving\n"
    "calibration plate (./scripts/run.sh --demo starts three); TAVORIN_VIRTUAL_SYNC, _TRUTH, _DEPTH_ERRORS\n"
    "and _ARTEFACTS shape them (see README). Keys in the view: F frames every cloud, R or Home returns to\n"
    "the start view, C orbits around the cursor. The console shows what the window does.";

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

// SIGINT and SIGTERM quit the event loop, so that shutdown runs the same path as closing the window.
void quitOnTerminationSignals(QGuiApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    if (printHelpIfAsked(argc, argv, kUsage, kHelp))
        return 0;
    // The global state (the scene and the live depth source with its device count) exists before
    // the application object; --help opens no device.
    tavorin::globalStateHandler.store(new tavorin::GlobalStateHandler());
    Q_INIT_RESOURCE(qml);

    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setSamples(4);
    QSurfaceFormat::setDefaultFormat(format);

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    int exitCode = 0;
    {
        QGuiApplication app(argc, argv);
        app.setOrganizationName("Tavorin");
        app.setOrganizationDomain("tavorin.org");
        quitOnTerminationSignals(app);

        auto engine = std::make_unique<QQmlApplicationEngine>();
        qmlRegisterType<tavorin::RightBarViewModel>("QMLTavorin", 1, 0, "RightBarViewModel");
        qmlRegisterType<tavorin::GLRectangleViewModel>("QMLTavorin", 1, 0, "GLRectangleViewModel");
        qmlRegisterType<tavorin::GLRectangle>("QMLTavorin", 1, 0, "GLRectangle");
        qmlRegisterType<tavorin::RecordViewModel>("QMLTavorin", 1, 0, "RecordViewModel");
        qmlRegisterType<tavorin::ViewOptionsViewModel>("QMLTavorin", 1, 0, "ViewOptionsViewModel");
        engine->rootContext()->setContextProperty("globalState", tavorin::globalStateHandler.load());

        const QUrl url(QStringLiteral("qrc:/main.qml"));
        QObject::connect(
            engine.get(), &QQmlApplicationEngine::objectCreated, &app,
            [url](QObject* object, const QUrl& objectUrl) {
                if (!object && url == objectUrl)
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
        engine->load(url);

        exitCode = app.exec();
        // Destroying the engine closes the window; its render thread runs the clean-up job if the
        // scene graph still can.
        engine.reset();
    }
    // The clean-up job never ran (no window was ever shown, or the scene graph went first).
    tavorin::destroyGlobalState();
    return exitCode;
}
