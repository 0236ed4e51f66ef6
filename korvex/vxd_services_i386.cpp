// The Windows 9x VxD services of the i686 driver image, and the keyboard filter's hook procedure.
//
// A VxD service is reached by the dynamic-link call: "int 20h" followed by a 32-bit word, the
// VxD's device identifier in the high 16 bits and the service number in the low 16. The VMM
// patches the call into a direct one on first use. A service number with bit 15 set is the jump
// form: the service then returns straight to the caller of the routine that made the call.
//
// KeyboardFilterHook is entered by VKD's filter chain with registers, not with a C frame: CL holds
// the scan code. It is preceded by the hook-procedure preamble that Hook_Device_Service and
// Unhook_Device_Service work with: a short jump over the next 6 bytes to the entry (EB 06), then
// an indirect jump through PreviousFilter (FF 25 and the cell's address).
//
// All of this is assembly: the register conventions of the VMM cannot be expressed in C.
#include "button_input.h"
#include "vxd_services.h"

static_assert(sizeof(void*) == 4, "the VxD services exist only in the 32-bit x86 image");

// VMM Hook_Device_Service and Unhook_Device_Service; VXDLDR's module load and the jump form of
// _PELDR_GetProcAddress.
#define KORVEX_STRINGIFY(x) #x
#define KORVEX_WORD(x) KORVEX_STRINGIFY(x)
#define VMM_HOOK_DEVICE_SERVICE 0x00010090
#define VMM_UNHOOK_DEVICE_SERVICE 0x0001011C
#define VXDLDR_LOAD_MODULE 0x00270012
#define VXDLDR_PELDR_GET_PROC_ADDRESS_JUMP 0x0027800B

asm(R"(
    .text
    .balign 16
# The preamble: EB 06 jumps over the indirect jump to the entry; FF 25 <cell> is the jump through
# PreviousFilter that the VMM follows along the chain.
    .byte 0xEB, 0x06, 0xFF, 0x25
    .long _PreviousFilter
    .globl _KeyboardFilterHook
_KeyboardFilterHook:
    pushl %ebp
    movl %esp, %ebp
    pushfl
    pushl %eax                 # -8(%ebp)
    pushl %edx                 # -12(%ebp)
    pushl %ecx                 # -16(%ebp)
    pushl %ecx                 # FilterScanCode(ECX): the scan code in the low byte
    cld
    call _FilterScanCode
    movl -16(%ebp), %ecx
    movb %al, %cl              # the code that goes on down the chain
    movl -12(%ebp), %edx
    movl -8(%ebp), %eax
    cmpl $0, _PreviousFilter   # 0 only between the hook and the store of the previous handler
    je 1f
    leal -4(%ebp), %esp
    popfl                      # the flags as they came
    popl %ebp
    jmp *_PreviousFilter
1:  leal -4(%ebp), %esp
    popfl
    popl %ebp
    ret

# int VxdHookDeviceService(service, previous): EAX = service, ESI = KeyboardFilterHook; carry
# clear on success, with the previous handler in ESI.
    .globl _VxdHookDeviceService
_VxdHookDeviceService:
    pushl %esi
    movl 8(%esp), %eax
    movl $_KeyboardFilterHook, %esi
    int $0x20
    .long )" KORVEX_WORD(VMM_HOOK_DEVICE_SERVICE) R"(
    jc 1f
    movl 12(%esp), %ecx
    movl %esi, (%ecx)
    movl $1, %eax
    popl %esi
    ret
1:  xorl %eax, %eax
    popl %esi
    ret

# void VxdUnhookDeviceService(service): the same registers; the outcome is not looked at.
    .globl _VxdUnhookDeviceService
_VxdUnhookDeviceService:
    pushl %esi
    movl 8(%esp), %eax
    movl $_KeyboardFilterHook, %esi
    int $0x20
    .long )" KORVEX_WORD(VMM_UNHOOK_DEVICE_SERVICE) R"(
    popl %esi
    ret

# long VxdLoadModule(handle, name, buffer): eight arguments pushed right to left and removed by
# the caller: handle, name, 0, 260, buffer, 0, 0, 2. The result comes back in EAX.
    .globl _VxdLoadModule
_VxdLoadModule:
    pushl %ebp
    movl %esp, %ebp
    pushl $2
    pushl $0
    pushl $0
    pushl 16(%ebp)             # buffer
    pushl $260
    pushl $0
    pushl 12(%ebp)             # name
    pushl 8(%ebp)              # handle
    int $0x20
    .long )" KORVEX_WORD(VXDLDR_LOAD_MODULE) R"(
    addl $32, %esp
    popl %ebp
    ret

# _PELDR_GetProcAddress in its jump form: the routine is called with the service's three cdecl
# arguments on the stack, and the service returns from it to its caller with EAX.
PeldrGetProcAddress:
    int $0x20
    .long )" KORVEX_WORD(VXDLDR_PELDR_GET_PROC_ADDRESS_JUMP) R"(

# void* VxdGetProcAddress(handle, name): PeldrGetProcAddress(handle, name, 0).
    .globl _VxdGetProcAddress
_VxdGetProcAddress:
    pushl $0
    pushl 12(%esp)             # name
    pushl 12(%esp)             # handle
    call PeldrGetProcAddress
    addl $12, %esp
    ret
)");
