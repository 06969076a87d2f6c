// The QR code's address carries the code after "#": fill it in, unless the
// owner has typed one already.
(function () {
    var code = document.getElementById("code");
    if (code && !code.value && location.hash.length > 1)
        code.value = decodeURIComponent(location.hash.slice(1)).slice(0, 16);
})();
