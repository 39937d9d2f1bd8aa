/* What the header tests hand back: each declaration of vornex.h that has a
 * plain export name, with the address the import library resolved for it. */
#ifndef HOSTAPI_HEADER_ADDRESSES_H
#define HOSTAPI_HEADER_ADDRESSES_H

typedef void (*VornexAnyFunction)(void);

struct VornexDeclared {
    const char* name;
    VornexAnyFunction address;
};

#ifdef __cplusplus
extern "C" {
#endif
/* Fills out with up to room entries; returns how many there are. */
int VornexHeaderAddressesFromC(struct VornexDeclared* out, int room);
/* A robot without a port driven from C: 0 when every step gave the result
 * the header promises, else the number of the first step that did not. */
int VornexHeaderSmokeFromC(void);
#ifdef __cplusplus
}
#endif

#endif
