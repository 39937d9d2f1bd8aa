#pragma once
// One command for the tool and every reply part that came back for it.
#include <map>

#include <windows.h>

#include "engine/vx_api.h"
#include "framework/vx_string.h"

// Command kinds: how the link sends a command and treats its reply.
enum eCommand : long {
    eNone = 0,          // link idle; default-constructed record
    eNoReply = 1,       // no reply awaited: abandoned in the next cycle
    eStandard = 2,      // one reply completes it
    eBaud38400 = 3,     // FTDI: switch to 38400 after sending
    eBaud76800 = 4,     // FTDI: switch to 76800 after sending
    ePageRead = 6,      // one reply per page
    eToolInfo = 10,     // preamble first, unframed 10-byte reply
};

// One stored reply: the frame as received. The buffer belongs to the record in
// the robot object's finished map; copies of a record share it.
struct ReplyPart {
    int size;
    char* data;
};

class VX_API CRobotCommand {
public:
    CRobotCommand();
    CRobotCommand(CString text, eCommand kind);
    CRobotCommand(CString text, eCommand kind, bool addressed, bool preFramed);
    CRobotCommand(const CRobotCommand& other);
    CRobotCommand& operator=(const CRobotCommand& other);
    ~CRobotCommand();

    eCommand GetCommand() const;
    const CString& GetString() const;
    int GetID() const;
    int GetReplyCount() const;
    const char* GetReplyData() const;
    int GetReplySize() const;
    bool IsReplyComplete() const;
    bool IsAbandoned() const;
    bool IsAddressed() const;
    bool StartReplyWalk();
    bool NextReply();

    // Used by the robot object, which owns the records in its finished map.
    bool IsPreFramed() const { return m_preFramed; }
    void SetReplyComplete() { m_replyComplete = true; }
    void SetAbandoned() { m_abandoned = true; }
    // Stores a part under key; a part already there is replaced (its buffer
    // is freed, since the finished record owns it).
    void StoreReply(int key, int size, char* data);
    // Frees every part's buffer and forgets the parts.
    void FreeReplies();
    const std::map<int, ReplyPart>& Replies() const { return m_replies; }

protected:
    static LONG m_nextID;

private:
    static int TakeNextID();

    CString m_text;
    eCommand m_command;
    int m_id;
    bool m_replyComplete;
    bool m_abandoned;
    bool m_addressed;
    bool m_preFramed;
    std::map<int, ReplyPart> m_replies;
    std::map<int, ReplyPart>::const_iterator m_walk;
};
