/* uint32_t zefCalleeCleans(const void* function, const uint32_t* arguments,
 *                          uint32_t count)
 * Pushes the arguments right to left, calls, and returns how far the stack
 * pointer moved back up: 4 x count for a callee-cleans function, 0 for a
 * caller-cleans one. The stack is restored either way. */
    .text
    .globl _zefCalleeCleans
_zefCalleeCleans:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 8(%ebp), %eax
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %ebx
1:  testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:  movl %esp, %edi
    call *%eax
    movl %esp, %eax
    subl %edi, %eax
    movl %ebx, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
