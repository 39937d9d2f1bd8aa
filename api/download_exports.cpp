#include "api/download_exports.h"

#include <memory>
#include <new>

#include "api/download_page_matrix.h"
#include "api/download_tool_memory.h"
#include "api/host_text.h"
#include "framework/module_state.h"

long __stdcall ROBOT_ReadFlashPages(RobotHandle robot, long firstPage, long pageCount, long baudRate, long flag,
                                    const wchar_t* address) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return 0;
    try {
        return tool->ReadFlashPages(firstPage, pageCount, baudRate, flag != 0, address);
    } catch (const std::bad_alloc&) {
        return 0;  // out of memory: no request
    }
}

PageList* __stdcall ROBOT_ReadToolMemory(RobotHandle robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                         long flag, long* error, const wchar_t* address) {
    VX_MANAGE_STATE();
    CRobotTool* tool = RobotFromHandle(robot);
    if (!tool) return nullptr;
    RobotUse use(tool);  // its messages may destroy the robot object meanwhile
    // Out of memory is a failed download, not an exception for the host.
    std::unique_ptr<PageList> list(new (std::nothrow) PageList());
    long result = download::kFailed;
    try {
        if (list) result = DownloadToolMemory(tool, *list, pages, baudRate, timeoutMs, flag != 0, address);
    } catch (const std::bad_alloc&) {
        result = download::kFailed;
    } catch (...) {
        // The exception is the host's; the pages read so far are not.
        FreePageBuffers(*list);
        throw;
    }
    if (error) *error = result < 0 ? -1 : 0;
    if (result > 0) return list.release();
    if (list) FreePageBuffers(*list);
    return nullptr;
}

PageList* __stdcall ROBOT_ReadToolMemory(RobotHandle robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                         long flag, long* error) {
    VX_MANAGE_STATE();
    return ROBOT_ReadToolMemory(robot, pages, baudRate, timeoutMs, flag, error, nullptr);
}

long __stdcall ROBOT_ReadToolMemorySAAddressed(RobotHandle robot, SAFEARRAY** pages, long baudRate, long timeoutMs,
                                               long flag, SAFEARRAY** out, const wchar_t* address) {
    VX_MANAGE_STATE();
    if (!robot || !pages || !out) return 0;
    const std::unique_ptr<wchar_t[]> addressCopy = CopyHostText(address);
    long error = 0;
    std::unique_ptr<PageList> list(
        ROBOT_ReadToolMemory(robot, pages, baudRate, timeoutMs, flag, &error, addressCopy.get()));
    if (!list) return error;
    return StorePageMatrix(*list, out);
}

long __stdcall ROBOT_ReadToolMemorySA(RobotHandle robot, SAFEARRAY** pages, long baudRate, long timeoutMs, long flag,
                                      SAFEARRAY** out) {
    VX_MANAGE_STATE();
    return ROBOT_ReadToolMemorySAAddressed(robot, pages, baudRate, timeoutMs, flag, out, nullptr);
}
