<script type="text/javascript">
// Runs from the web browser's context menu: hands the feed behind the right-clicked link
// (or the linked image) to the reader through a "reader:" address.
(function () {
  var page = external.menuArguments;
  var element = page.event.srcElement;
  var address = "";
  if (element.tagName == "A") {
    address = element.href;
  } else if (element.tagName == "IMG" && element.parentElement &&
             element.parentElement.tagName == "A") {
    address = element.parentElement.href;
  }
  if (address) {
    page.location.href = "reader:" + address;
  }
})();
</script>
