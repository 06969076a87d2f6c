@ The entry of a program for the reader's C library (glibc 2.19).
@
@ Since glibc 2.34 the entry that a program gets from the C library's start
@ files passes no initialiser to __libc_start_main and leaves the program's
@ constructors to the C library; an older C library then runs none of them.
@ This entry is the one that C libraries before 2.34 came with: it hands
@ __libc_start_main (bound to GLIBC_2.4, the ARM port's first version) the
@ program's initialiser and finaliser, which every version since runs.
@ Linked with -e zorvi_start, in a program that is not position independent.

    .syntax unified
    .arm
    .text
    .globl zorvi_start
    .type zorvi_start, %function
zorvi_start:
    .fnstart
    .cantunwind
    mov fp, #0
    mov lr, #0
    pop {a2}                    @ argc
    mov a3, sp                  @ argv
    push {a3}                   @ the stack's end
    push {a1}                   @ the dynamic loader's finaliser
    ldr ip, =zorvi_csu_fini
    push {ip}
    ldr a1, =main
    ldr a4, =zorvi_csu_init
    @ __libc_start_main (main, argc, argv, init, fini, rtld_fini, stack_end)
    bl __libc_start_main
    bl abort
    .fnend
    .size zorvi_start, .-zorvi_start
    .section .note.GNU-stack,"",%progbits
