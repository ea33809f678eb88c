/* Pd's API header names FILE in two prototypes; the classes never use it. */
#pragma once
typedef struct __sFILE FILE;
