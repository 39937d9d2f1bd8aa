// The steps of the link that depend on the attached transport.
#include "engine/robot_link.h"

bool CRobotLink::PortAcceptsSending() { return true; }

void CRobotLink::WriteCommandBytes(const HeadCommand&, const std::vector<unsigned char>&) {
    // No port attached: nothing is written and the command times out.
}

void CRobotLink::DiscardPortInput() {}

bool CRobotLink::WriteRawToPort(char*, int count) { return count == 0; }

void CRobotLink::RateFallbackLink() {}
