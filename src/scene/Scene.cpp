#include "scene/Scene.h"

#include "acquisition/DepthCameraProcessor.h"
#include "acquisition/DepthSourceFactory.h"

Scene::Scene()
{
    state.depthSource = createLiveSource();
}

Scene::~Scene() = default;

void Scene::initialize(QOpenGLFunctions_3_3_Core*) {}

void Scene::setViewportSize(int width_, int height_)
{
    width = width_;
    height = height_;
}

void Scene::frame(QOpenGLFunctions_3_3_Core*)
{
    std::lock_guard<std::mutex> lock(frameMutex);
    state.step();
}

void Scene::cleanup(QOpenGLFunctions_3_3_Core*) {}
