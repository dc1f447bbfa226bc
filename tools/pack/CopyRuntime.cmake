# Copies SOURCE to TARGET when SOURCE exists; says once where the runtime is missing.
if(EXISTS "${SOURCE}")
    file(COPY_FILE "${SOURCE}" "${TARGET}" ONLY_IF_DIFFERENT)
elseif(NOT EXISTS "${TARGET}")
    message(STATUS "mutone-pack: no ${SOURCE} yet (build the ${PRESET} preset); build needs --runtime until then")
endif()
