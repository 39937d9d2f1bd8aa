Attribute VB_Name = "Vornex"
' vornex.bas: declarations of vornex.dll's flat exports for VBA (Office,
' 32 or 64 bit) and VB6, with a few helpers for the strings the library
' hands back. Add this module to a project and keep vornex.dll where the
' host finds it (beside the workbook's host program, on PATH, or give Lib a
' full path).
'
' Types, as the library's functions take them:
' - robot and port handles are pointers: LongPtr (Long in VB6);
' - true/false results are Long, 1 or 0 (not VB's True, -1): compare with
'   0, never test them as Boolean;
' - unsigned 32-bit numbers are Long (values above 2^31 - 1 read negative);
' - wide (UTF-16) strings are pointers: pass StrPtr(text), never a String,
'   which VB would convert to ANSI; ROBOT_StartLogging alone takes an ANSI
'   path, so it is declared As String;
' - byte and integer arrays are SAFEARRAYs: pass a dynamic array (Dim a()
'   As Byte); arrays the library creates replace what the variable held;
' - string arrays and the BSTR of GetPortDescription come back as pointers
'   (VB would otherwise convert them from ANSI): read them with
'   VornexTakeStringArray and VornexTakeBstr, which also free them.
'
' Not declared: the FTDI functions that take a port by reference
' (OpenFTDIDevice, FTDI_Open and the C++-only ones) and the C++ overloads
' that return page lists; they need a C++ host built with the library's
' compiler. CRobotCommand pointers from ROBOT_GetReply / ROBOT_WaitReply
' only tell whether a record exists; read replies with ROBOT_GetReplyBytes.
Option Explicit

#If VBA7 Then

' Robot objects
Public Declare PtrSafe Function ROBOT_Create Lib "vornex.dll" () As LongPtr
Public Declare PtrSafe Function ROBOT_Destroy Lib "vornex.dll" (ByVal robot As LongPtr) As Long
Public Declare PtrSafe Function ROBOT_StartPolling Lib "vornex.dll" (ByVal robot As LongPtr) As Long
Public Declare PtrSafe Sub ROBOT_StopPolling Lib "vornex.dll" (ByVal robot As LongPtr)
Public Declare PtrSafe Function ROBOT_IsIdle Lib "vornex.dll" (ByVal robot As LongPtr) As Long
Public Declare PtrSafe Sub ROBOT_SetTimeout Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal milliseconds As Long)
Public Declare PtrSafe Sub ROBOT_SetKeepAlive Lib "vornex.dll" (ByVal robot As LongPtr, ByVal enable As Long)
Public Declare PtrSafe Sub ROBOT_StartLogging Lib "vornex.dll" (ByVal robot As LongPtr, ByVal path As String)

' Ports
Public Declare PtrSafe Function ROBOT_AttachSerialPort Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal comPort As Long) As LongPtr
Public Declare PtrSafe Function ReleaseSerialPort Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function Serial_ReleasePort Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function ROBOT_AttachTcpPort Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal host As LongPtr, ByVal tcpPort As Long, ByVal connectMs As Long) As LongPtr
Public Declare PtrSafe Function ReleaseTcpPort Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function TCP_ReleasePort Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function ROBOT_AttachFTDIDevice Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal description As LongPtr) As LongPtr
Public Declare PtrSafe Function ROBOT_AttachFTDIDeviceByLoc Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal location As Long) As LongPtr
Public Declare PtrSafe Function ROBOT_AttachFTDIDeviceByIndex Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal index As Long) As LongPtr
Public Declare PtrSafe Function ReleaseFTDIDevice Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function FTDI_Release Lib "vornex.dll" (ByVal port As LongPtr) As Long

' Commands and replies
Public Declare PtrSafe Function ROBOT_SendCommand Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal text As LongPtr) As Long
Public Declare PtrSafe Function ROBOT_SendCommandBytes Lib "vornex.dll" (ByVal robot As LongPtr, _
        bytes() As Byte, ByVal kind As Long) As Long
Public Declare PtrSafe Function ROBOT_GetToolInfo Lib "vornex.dll" (ByVal robot As LongPtr) As Long
Public Declare PtrSafe Function ROBOT_WriteToPort Lib "vornex.dll" (ByVal robot As LongPtr, _
        bytes() As Byte, ByVal length As Long) As Long
Public Declare PtrSafe Function ROBOT_GetReply Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal id As Long) As LongPtr
Public Declare PtrSafe Function ROBOT_WaitReply Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal id As Long, ByVal timeoutMs As Long) As LongPtr
Public Declare PtrSafe Function ROBOT_DeleteReply Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal id As Long) As Long
Public Declare PtrSafe Function ROBOT_GetReplyBytes Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal id As Long, reply() As Byte) As Long
Public Declare PtrSafe Function ROBOT_WaitReplyBytes Lib "vornex.dll" (ByVal robot As LongPtr, _
        ByVal id As Long, ByVal timeoutMs As Long, reply() As Byte) As Long

' Tool memory download
Public Declare PtrSafe Function ROBOT_ReadToolMemory Lib "vornex.dll" (ByVal robot As LongPtr, _
        pages() As Long, ByVal baudRate As Long, ByVal timeoutMs As Long, ByVal flag As Long, _
        pageMatrix() As Byte) As Long
Public Declare PtrSafe Function ROBOT_ReadToolMemoryAddressed Lib "vornex.dll" (ByVal robot As LongPtr, _
        pages() As Long, ByVal baudRate As Long, ByVal timeoutMs As Long, ByVal flag As Long, _
        pageMatrix() As Byte, ByVal address As LongPtr) As Long
Public Declare PtrSafe Function FTDI_ResetToolRate Lib "vornex.dll" (ByVal port As LongPtr) As Long

' FTDI devices
Public Declare PtrSafe Function FTDI_GetLocID Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function FTDI_ResetDevice Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function FTDI_CyclePort Lib "vornex.dll" (ByVal port As LongPtr) As Long
Public Declare PtrSafe Function SetFTDIBaud Lib "vornex.dll" (ByVal port As LongPtr, _
        ByVal rate As Long) As Long
Public Declare PtrSafe Function FTDI_SetBaud Lib "vornex.dll" (ByVal port As LongPtr, _
        ByVal rate As Long) As Long
Public Declare PtrSafe Function SetFTDILatency Lib "vornex.dll" (ByVal port As LongPtr, _
        ByVal milliseconds As Long) As Long
Public Declare PtrSafe Function FTDI_SetLatency Lib "vornex.dll" (ByVal port As LongPtr, _
        ByVal milliseconds As Long) As Long
Public Declare PtrSafe Function SetFTDIUSBParameters Lib "vornex.dll" (ByVal port As LongPtr, _
        ByVal inSize As Long, ByVal outSize As Long) As Long
Public Declare PtrSafe Function FTDI_SetUSBParameters Lib "vornex.dll" (ByVal port As LongPtr, _
        ByVal inSize As Long, ByVal outSize As Long) As Long
Public Declare PtrSafe Function FTDI_GetDeviceStrings Lib "vornex.dll" (ByRef descriptions As LongPtr) As Long
Public Declare PtrSafe Function FTDI_Enumerate Lib "vornex.dll" (ByRef descriptions As LongPtr, _
        comPorts() As Long, indexes() As Long, locations() As Long, _
        ByRef serials As LongPtr) As Long
Public Declare PtrSafe Function FTDI_GetLibraryVersion Lib "vornex.dll" () As Long
Public Declare PtrSafe Function FTDI_GetDriverStatus Lib "vornex.dll" () As Long

' COM ports present
Public Declare PtrSafe Function GetPortCount Lib "vornex.dll" () As Long
Public Declare PtrSafe Function Serial_GetPortCount Lib "vornex.dll" () As Long
Public Declare PtrSafe Function GetPortDescription Lib "vornex.dll" (ByVal index As Long) As LongPtr
Public Declare PtrSafe Function Serial_GetPortDescription Lib "vornex.dll" (ByVal index As Long) As LongPtr
Public Declare PtrSafe Function GetPortNumber Lib "vornex.dll" (ByVal index As Long) As Long
Public Declare PtrSafe Function Serial_GetPortNumber Lib "vornex.dll" (ByVal index As Long) As Long
' Helpers for the pointers above
Private Declare PtrSafe Function SysStringLen Lib "oleaut32.dll" (ByVal bstr As LongPtr) As Long
Private Declare PtrSafe Sub SysFreeString Lib "oleaut32.dll" (ByVal bstr As LongPtr)
Private Declare PtrSafe Function SafeArrayGetUBound Lib "oleaut32.dll" (ByVal psa As LongPtr, _
        ByVal dimension As Long, ByRef upper As Long) As Long
Private Declare PtrSafe Function SafeArrayGetElement Lib "oleaut32.dll" (ByVal psa As LongPtr, _
        ByRef index As Long, ByRef element As LongPtr) As Long
Private Declare PtrSafe Function SafeArrayDestroy Lib "oleaut32.dll" (ByVal psa As LongPtr) As Long
Private Declare PtrSafe Sub CopyMemory Lib "kernel32" Alias "RtlMoveMemory" (ByVal destination As LongPtr, _
        ByVal source As LongPtr, ByVal length As LongPtr)

' The text of a BSTR the library returned; frees the BSTR.
Public Function VornexTakeBstr(ByVal bstr As LongPtr) As String
    Dim n As Long
    If bstr = 0 Then Exit Function
    n = SysStringLen(bstr)
    VornexTakeBstr = String$(n, vbNullChar)
    If n > 0 Then CopyMemory StrPtr(VornexTakeBstr), bstr, n * 2
    SysFreeString bstr
End Function

' The strings of a string array the library made (lower bound 0); destroys
' the array and clears the pointer. An empty array has UBound -1.
Public Function VornexTakeStringArray(ByRef psa As LongPtr) As String()
    Dim upper As Long, i As Long, element As LongPtr, texts() As String
    texts = Split(vbNullString)
    If psa <> 0 Then
        If SafeArrayGetUBound(psa, 1, upper) = 0 And upper >= 0 Then
            ReDim texts(0 To upper)
            For i = 0 To upper
                element = 0
                If SafeArrayGetElement(psa, i, element) = 0 Then texts(i) = VornexTakeBstr(element)
            Next i
        End If
        SafeArrayDestroy psa
        psa = 0
    End If
    VornexTakeStringArray = texts
End Function

#Else

' Robot objects
Public Declare Function ROBOT_Create Lib "vornex.dll" () As Long
Public Declare Function ROBOT_Destroy Lib "vornex.dll" (ByVal robot As Long) As Long
Public Declare Function ROBOT_StartPolling Lib "vornex.dll" (ByVal robot As Long) As Long
Public Declare Sub ROBOT_StopPolling Lib "vornex.dll" (ByVal robot As Long)
Public Declare Function ROBOT_IsIdle Lib "vornex.dll" (ByVal robot As Long) As Long
Public Declare Sub ROBOT_SetTimeout Lib "vornex.dll" (ByVal robot As Long, ByVal milliseconds As Long)
Public Declare Sub ROBOT_SetKeepAlive Lib "vornex.dll" (ByVal robot As Long, ByVal enable As Long)
Public Declare Sub ROBOT_StartLogging Lib "vornex.dll" (ByVal robot As Long, ByVal path As String)

' Ports
Public Declare Function ROBOT_AttachSerialPort Lib "vornex.dll" (ByVal robot As Long, _
        ByVal comPort As Long) As Long
Public Declare Function ReleaseSerialPort Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function Serial_ReleasePort Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function ROBOT_AttachTcpPort Lib "vornex.dll" (ByVal robot As Long, _
        ByVal host As Long, ByVal tcpPort As Long, ByVal connectMs As Long) As Long
Public Declare Function ReleaseTcpPort Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function TCP_ReleasePort Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function ROBOT_AttachFTDIDevice Lib "vornex.dll" (ByVal robot As Long, _
        ByVal description As Long) As Long
Public Declare Function ROBOT_AttachFTDIDeviceByLoc Lib "vornex.dll" (ByVal robot As Long, _
        ByVal location As Long) As Long
Public Declare Function ROBOT_AttachFTDIDeviceByIndex Lib "vornex.dll" (ByVal robot As Long, _
        ByVal index As Long) As Long
Public Declare Function ReleaseFTDIDevice Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function FTDI_Release Lib "vornex.dll" (ByVal port As Long) As Long

' Commands and replies
Public Declare Function ROBOT_SendCommand Lib "vornex.dll" (ByVal robot As Long, ByVal text As Long) As Long
Public Declare Function ROBOT_SendCommandBytes Lib "vornex.dll" (ByVal robot As Long, _
        bytes() As Byte, ByVal kind As Long) As Long
Public Declare Function ROBOT_GetToolInfo Lib "vornex.dll" (ByVal robot As Long) As Long
Public Declare Function ROBOT_WriteToPort Lib "vornex.dll" (ByVal robot As Long, bytes() As Byte, _
        ByVal length As Long) As Long
Public Declare Function ROBOT_GetReply Lib "vornex.dll" (ByVal robot As Long, ByVal id As Long) As Long
Public Declare Function ROBOT_WaitReply Lib "vornex.dll" (ByVal robot As Long, ByVal id As Long, _
        ByVal timeoutMs As Long) As Long
Public Declare Function ROBOT_DeleteReply Lib "vornex.dll" (ByVal robot As Long, ByVal id As Long) As Long
Public Declare Function ROBOT_GetReplyBytes Lib "vornex.dll" (ByVal robot As Long, _
        ByVal id As Long, reply() As Byte) As Long
Public Declare Function ROBOT_WaitReplyBytes Lib "vornex.dll" (ByVal robot As Long, _
        ByVal id As Long, ByVal timeoutMs As Long, reply() As Byte) As Long

' Tool memory download
Public Declare Function ROBOT_ReadToolMemory Lib "vornex.dll" (ByVal robot As Long, _
        pages() As Long, ByVal baudRate As Long, ByVal timeoutMs As Long, ByVal flag As Long, _
        pageMatrix() As Byte) As Long
Public Declare Function ROBOT_ReadToolMemoryAddressed Lib "vornex.dll" (ByVal robot As Long, _
        pages() As Long, ByVal baudRate As Long, ByVal timeoutMs As Long, ByVal flag As Long, _
        pageMatrix() As Byte, ByVal address As Long) As Long
Public Declare Function FTDI_ResetToolRate Lib "vornex.dll" (ByVal port As Long) As Long

' FTDI devices
Public Declare Function FTDI_GetLocID Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function FTDI_ResetDevice Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function FTDI_CyclePort Lib "vornex.dll" (ByVal port As Long) As Long
Public Declare Function SetFTDIBaud Lib "vornex.dll" (ByVal port As Long, ByVal rate As Long) As Long
Public Declare Function FTDI_SetBaud Lib "vornex.dll" (ByVal port As Long, ByVal rate As Long) As Long
Public Declare Function SetFTDILatency Lib "vornex.dll" (ByVal port As Long, _
        ByVal milliseconds As Long) As Long
Public Declare Function FTDI_SetLatency Lib "vornex.dll" (ByVal port As Long, _
        ByVal milliseconds As Long) As Long
Public Declare Function SetFTDIUSBParameters Lib "vornex.dll" (ByVal port As Long, _
        ByVal inSize As Long, ByVal outSize As Long) As Long
Public Declare Function FTDI_SetUSBParameters Lib "vornex.dll" (ByVal port As Long, _
        ByVal inSize As Long, ByVal outSize As Long) As Long
Public Declare Function FTDI_GetDeviceStrings Lib "vornex.dll" (ByRef descriptions As Long) As Long
Public Declare Function FTDI_Enumerate Lib "vornex.dll" (ByRef descriptions As Long, _
        comPorts() As Long, indexes() As Long, locations() As Long, ByRef serials As Long) As Long
Public Declare Function FTDI_GetLibraryVersion Lib "vornex.dll" () As Long
Public Declare Function FTDI_GetDriverStatus Lib "vornex.dll" () As Long

' COM ports present
Public Declare Function GetPortCount Lib "vornex.dll" () As Long
Public Declare Function Serial_GetPortCount Lib "vornex.dll" () As Long
Public Declare Function GetPortDescription Lib "vornex.dll" (ByVal index As Long) As Long
Public Declare Function Serial_GetPortDescription Lib "vornex.dll" (ByVal index As Long) As Long
Public Declare Function GetPortNumber Lib "vornex.dll" (ByVal index As Long) As Long
Public Declare Function Serial_GetPortNumber Lib "vornex.dll" (ByVal index As Long) As Long
' Helpers for the pointers above
Private Declare Function SysStringLen Lib "oleaut32.dll" (ByVal bstr As Long) As Long
Private Declare Sub SysFreeString Lib "oleaut32.dll" (ByVal bstr As Long)
Private Declare Function SafeArrayGetUBound Lib "oleaut32.dll" (ByVal psa As Long, _
        ByVal dimension As Long, ByRef upper As Long) As Long
Private Declare Function SafeArrayGetElement Lib "oleaut32.dll" (ByVal psa As Long, _
        ByRef index As Long, ByRef element As Long) As Long
Private Declare Function SafeArrayDestroy Lib "oleaut32.dll" (ByVal psa As Long) As Long
Private Declare Sub CopyMemory Lib "kernel32" Alias "RtlMoveMemory" (ByVal destination As Long, _
        ByVal source As Long, ByVal length As Long)

' The text of a BSTR the library returned; frees the BSTR.
Public Function VornexTakeBstr(ByVal bstr As Long) As String
    Dim n As Long
    If bstr = 0 Then Exit Function
    n = SysStringLen(bstr)
    VornexTakeBstr = String$(n, vbNullChar)
    If n > 0 Then CopyMemory StrPtr(VornexTakeBstr), bstr, n * 2
    SysFreeString bstr
End Function

' The strings of a string array the library made (lower bound 0); destroys
' the array and clears the pointer. An empty array has UBound -1.
Public Function VornexTakeStringArray(ByRef psa As Long) As String()
    Dim upper As Long, i As Long, element As Long, texts() As String
    texts = Split(vbNullString)
    If psa <> 0 Then
        If SafeArrayGetUBound(psa, 1, upper) = 0 And upper >= 0 Then
            ReDim texts(0 To upper)
            For i = 0 To upper
                element = 0
                If SafeArrayGetElement(psa, i, element) = 0 Then texts(i) = VornexTakeBstr(element)
            Next i
        End If
        SafeArrayDestroy psa
        psa = 0
    End If
    VornexTakeStringArray = texts
End Function

#End If
