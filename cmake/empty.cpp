// Keeps a library target buildable while its folder has no sources yet.
