<html><head><meta charset="utf-8"><title>Corvane software</title><link rel="stylesheet" href="style.css">
<script src="common.js"></script></head>
<body><h1>Corvane software</h1><p>Category: <span id="type" data-param="type"></span></p>
<p class="note">Language: <span data-param="lang"></span></p></body></html>
