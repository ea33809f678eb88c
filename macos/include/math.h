#pragma once
#ifdef __cplusplus
extern "C" {
#endif
double sin(double);
float sinf(float);
double exp(double);
double fabs(double);
float fabsf(float);
#ifdef __cplusplus
}
#endif
