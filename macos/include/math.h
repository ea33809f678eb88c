#pragma once
#ifdef __cplusplus
extern "C" {
#endif
double exp(double);
double sin(double);
#ifdef __cplusplus
}
#endif
