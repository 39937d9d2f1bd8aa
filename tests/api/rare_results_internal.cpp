// Replies a host meets rarely: one complete without a part, and one that
// cannot become an array because the platform's array calls fail (made by
// stand-ins in the import slots).
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/command_exports.h"
#include "engine/robot_tool.h"
#include "support/import_patch.h"

extern "C" void* g_createSlot __asm__(VX_IMPORT_SLOT(SafeArrayCreate, 12));
extern "C" void* g_putSlot __asm__(VX_IMPORT_SLOT(SafeArrayPutElement, 12));

namespace {

SAFEARRAY* WINAPI NoArray(VARTYPE, UINT, SAFEARRAYBOUND*) { return nullptr; }
HRESULT WINAPI NoElement(SAFEARRAY*, LONG*, void*) { return E_OUTOFMEMORY; }

struct Robot : CRobotTool {
    // Files a complete reply of these parts, as the worker would.
    long File(const std::vector<std::string>& parts) {
        CRobotCommand record(CString(L"BE4D"), ePageRead);
        for (size_t k = 0; k < parts.size(); ++k)
            record.StoreReply(static_cast<int>(k), static_cast<int>(parts[k].size()),
                              std::strcpy(new char[parts[k].size() + 1], parts[k].c_str()));
        record.SetReplyComplete();
        CLockHold hold(*this);
        return m_finished.emplace(record.GetID(), record).first->first;
    }
};

}  // namespace

TEST(RareResults, ACompleteReplyWithoutAPartIsAnEmptyByteVector) {
    Robot robot;
    SAFEARRAY* reply = SafeArrayCreateVector(VT_UI1, 0, 3);
    EXPECT_EQ(ROBOT_GetReplyBytes(&robot, robot.File({}), &reply), 0);
    VARTYPE type = VT_EMPTY;
    LONG upper = 0;
    ASSERT_TRUE(reply && SUCCEEDED(SafeArrayGetVartype(reply, &type)) && SUCCEEDED(SafeArrayGetUBound(reply, 1, &upper)));
    EXPECT_EQ(type, VT_I1);
    EXPECT_EQ(upper, -1);
    SafeArrayDestroy(reply);
}

// A matrix that cannot be made gives -2; a failing element copy raises its
// HRESULT. Either way the record stays.
TEST(RareResults, AnArrayThatCannotBeMadeGivesMinusTwoOrRaisesItsHresult) {
    Robot robot;
    const long matrix = robot.File({"first", "second"}), vector = robot.File({"part"});
    SAFEARRAY* reply = SafeArrayCreateVector(VT_UI1, 0, 3);
    long raised = S_OK;
    {
        ImportPatch failing(g_createSlot, reinterpret_cast<void*>(&NoArray));
        EXPECT_EQ(ROBOT_GetReplyBytes(&robot, matrix, &reply), -2);
        EXPECT_EQ(reply, nullptr);  // the host's array went: nothing to free twice
    }
    {
        ImportPatch failing(g_putSlot, reinterpret_cast<void*>(&NoElement));
        try { ROBOT_GetReplyBytes(&robot, vector, &reply); } catch (long hr) { raised = hr; }
    }
    EXPECT_EQ(raised, static_cast<long>(E_OUTOFMEMORY));
    EXPECT_EQ(ROBOT_GetReplyBytes(&robot, matrix, &reply), 6);
    SafeArrayDestroy(reply);
}
