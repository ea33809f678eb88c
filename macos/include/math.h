#pragma once
#ifdef __cplusplus
extern "C" {
#endif
double exp(double);
double sin(double);
float sinf(float);
#ifdef __cplusplus
}
#endif
