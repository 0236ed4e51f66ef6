/* The stack probe that the compiler calls before a function takes more than a page of stack
   (size in EAX/RAX).  Windows commits a thread's stack one page at a time as its guard page is
   touched, so every page between the stack pointer and the new frame is touched in order, from
   the top down.  All registers are kept; the caller moves the stack pointer itself. */
#if defined(__i386__)
__asm__(
    "  .text\n"
    "  .globl ___chkstk_ms\n"
    "___chkstk_ms:\n"
    "  pushl %ecx\n"
    "  pushl %eax\n"
    "  leal 12(%esp), %ecx\n" /* the caller's stack pointer */
    "1:\n"
    "  cmpl $0x1000, %eax\n"
    "  jb 2f\n"
    "  subl $0x1000, %ecx\n"
    "  orl $0, (%ecx)\n"
    "  subl $0x1000, %eax\n"
    "  jmp 1b\n"
    "2:\n"
    "  subl %eax, %ecx\n"
    "  orl $0, (%ecx)\n"
    "  popl %eax\n"
    "  popl %ecx\n"
    "  ret\n");
#elif defined(__x86_64__)
__asm__(
    "  .text\n"
    "  .globl ___chkstk_ms\n"
    "___chkstk_ms:\n"
    "  pushq %rcx\n"
    "  pushq %rax\n"
    "  leaq 24(%rsp), %rcx\n" /* the caller's stack pointer */
    "1:\n"
    "  cmpq $0x1000, %rax\n"
    "  jb 2f\n"
    "  subq $0x1000, %rcx\n"
    "  orq $0, (%rcx)\n"
    "  subq $0x1000, %rax\n"
    "  jmp 1b\n"
    "2:\n"
    "  subq %rax, %rcx\n"
    "  orq $0, (%rcx)\n"
    "  popq %rax\n"
    "  popq %rcx\n"
    "  ret\n");
#endif
