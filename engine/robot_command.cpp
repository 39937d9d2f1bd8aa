#include "engine/robot_command.h"

#include "framework/module_state.h"

LONG CRobotCommand::m_nextID = 0;

int CRobotCommand::TakeNextID() { return static_cast<int>(InterlockedIncrement(&m_nextID)); }

CRobotCommand::CRobotCommand() : CRobotCommand(CString(), eNone, false, false) {}

CRobotCommand::CRobotCommand(CString text, eCommand kind) : CRobotCommand(text, kind, false, false) {}

CRobotCommand::CRobotCommand(CString text, eCommand kind, bool addressed, bool preFramed)
    : m_text(text),
      m_command(kind),
      m_id(0),
      m_replyComplete(false),
      m_abandoned(false),
      m_addressed(addressed),
      m_preFramed(preFramed) {
    VX_MANAGE_STATE();
    m_id = TakeNextID();
    m_walk = m_replies.end();
}

CRobotCommand::CRobotCommand(const CRobotCommand& other)
    : m_text(other.m_text),
      m_command(other.m_command),
      m_id(other.m_id),
      m_replyComplete(other.m_replyComplete),
      m_abandoned(other.m_abandoned),
      m_addressed(other.m_addressed),
      m_preFramed(other.m_preFramed),
      m_replies(other.m_replies) {
    VX_MANAGE_STATE();
    m_walk = m_replies.end();
}

CRobotCommand& CRobotCommand::operator=(const CRobotCommand& other) {
    VX_MANAGE_STATE();
    if (this == &other) return *this;
    m_text = other.m_text;
    m_command = other.m_command;
    m_id = other.m_id;
    m_replyComplete = other.m_replyComplete;
    m_abandoned = other.m_abandoned;
    m_addressed = other.m_addressed;
    m_preFramed = other.m_preFramed;
    m_replies = other.m_replies;
    m_walk = m_replies.end();
    return *this;
}

CRobotCommand::~CRobotCommand() { VX_MANAGE_STATE(); }

eCommand CRobotCommand::GetCommand() const { VX_MANAGE_STATE(); return m_command; }
const CString& CRobotCommand::GetString() const { VX_MANAGE_STATE(); return m_text; }
int CRobotCommand::GetID() const { VX_MANAGE_STATE(); return m_id; }
int CRobotCommand::GetReplyCount() const { VX_MANAGE_STATE(); return static_cast<int>(m_replies.size()); }
bool CRobotCommand::IsReplyComplete() const { VX_MANAGE_STATE(); return m_replyComplete; }
bool CRobotCommand::IsAbandoned() const { VX_MANAGE_STATE(); return m_abandoned; }
bool CRobotCommand::IsAddressed() const { VX_MANAGE_STATE(); return m_addressed; }

const char* CRobotCommand::GetReplyData() const {
    VX_MANAGE_STATE();
    if (m_replies.empty()) return nullptr;
    if (m_replies.size() == 1) return m_replies.begin()->second.data;
    return m_walk == m_replies.end() ? nullptr : m_walk->second.data;
}

int CRobotCommand::GetReplySize() const {
    VX_MANAGE_STATE();
    if (m_replies.empty()) return 0;
    if (m_replies.size() == 1) return m_replies.begin()->second.size;
    return m_walk == m_replies.end() ? 0 : m_walk->second.size;
}

bool CRobotCommand::StartReplyWalk() {
    VX_MANAGE_STATE();
    m_walk = m_replies.begin();
    return m_walk != m_replies.end();
}

bool CRobotCommand::NextReply() {
    VX_MANAGE_STATE();
    if (m_walk == m_replies.end()) return false;
    ++m_walk;
    return m_walk != m_replies.end();
}

void CRobotCommand::StoreReply(int key, int size, char* data) {
    auto found = m_replies.find(key);
    if (found != m_replies.end()) {
        delete[] found->second.data;
        found->second = ReplyPart{size, data};
        return;
    }
    m_replies.emplace(key, ReplyPart{size, data});
}

void CRobotCommand::FreeReplies() {
    for (auto& part : m_replies) delete[] part.second.data;
    m_replies.clear();
    m_walk = m_replies.end();
}
