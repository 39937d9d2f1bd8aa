#include "api/robot_registry.h"

#include <algorithm>
#include <new>
#include <vector>

#include "api/robot_handle.h"
#include "common/lockable.h"

namespace {

struct Registry {
    CLockable lock;
    std::vector<CRobotTool*> robots;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

} // namespace

bool RegisterRobot(CRobotTool* robot) {
    Registry& registry = TheRegistry();
    CLockHold hold(registry.lock);
    try {
        registry.robots.push_back(robot);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void UnregisterRobot(CRobotTool* robot) {
    Registry& registry = TheRegistry();
    CLockHold hold(registry.lock);
    auto& robots = registry.robots;
    robots.erase(std::remove(robots.begin(), robots.end(), robot), robots.end());
}

void DetachPortFromRobots(const void* port) {
    Registry& registry = TheRegistry();
    CLockHold hold(registry.lock);
    for (CRobotTool* robot : registry.robots) {
        if (robot->UsesPort(port)) ChangePortWhileStopped(robot, [robot] { robot->Detach(); });
    }
}
