#error "the portable core must not include windows.h; put OS code under platform/win32/"
