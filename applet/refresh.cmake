# Puts the rebuilt image and its compiler line in place of the committed ones,
# as plain files with the time of the copy, so that the build embeds them anew.
#   cmake -DIMAGE=file -DTOOLCHAIN_LINE=file -DDESTINATION=dir -P refresh.cmake
file(COPY ${IMAGE} ${TOOLCHAIN_LINE} DESTINATION ${DESTINATION}
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
get_filename_component(image_name ${IMAGE} NAME)
get_filename_component(toolchain_name ${TOOLCHAIN_LINE} NAME)
file(TOUCH ${DESTINATION}/${image_name} ${DESTINATION}/${toolchain_name})
